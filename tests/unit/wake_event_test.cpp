#include "base/wake_event.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace korvane {
namespace {

using namespace std::chrono_literals;

// Another event stands in for the socket or pipe a loop watches. The wake-up
// wins when both are ready, so a reader told to stop stops even while its pipe
// keeps filling; once set, the event stays set for every later wait.
TEST(WakeEvent, TellsWhichIsReadyAndStaysSetForEveryWaiter) {
    struct Row {
        bool other_set;
        bool wake_set;
        WaitResult result;
    };
    for (const Row row :
         {Row{false, false, WaitResult::TimedOut}, Row{true, false, WaitResult::Ready},
          Row{false, true, WaitResult::Woken}, Row{true, true, WaitResult::Woken}}) {
        WakeEvent other;
        WakeEvent wake;
        ASSERT_TRUE(other.Valid() && wake.Valid());
        if (row.other_set) {
            other.Set();
        }
        if (row.wake_set) {
            wake.Set();
        }
        EXPECT_EQ(WaitForEither(other.Handle(), wake, 10ms), row.result);
        EXPECT_EQ(wake.WaitFor(0ms), row.wake_set);
    }
    WakeEvent other;
    WakeEvent wake;
    std::thread waiter([&] { EXPECT_TRUE(wake.WaitFor(10s)); });
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        wake.Set();
    });
    EXPECT_EQ(WaitForEither(other.Handle(), wake, NO_TIME_LIMIT), WaitResult::Woken);
    waiter.join();
    setter.join();
}

}  // namespace
}  // namespace korvane
