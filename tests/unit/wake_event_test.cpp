#include "base/wake_event.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// Another event stands in for the socket or pipe a loop watches. The wake-up
// wins when both are ready, so a reader told to stop stops even while its pipe
// keeps filling; a wait does not use it up (every waiter sees it), Clear() does.
TEST(WakeEvent, TellsWhichIsReadyAndStaysSetUntilCleared) {
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
        EXPECT_EQ(WaitForEither(other.Handle(), wake, std::chrono::milliseconds(10)), row.result);
        for (int waiter = 0; waiter < 2; ++waiter) {
            EXPECT_EQ(wake.WaitFor(std::chrono::milliseconds(0)), row.wake_set);
        }
        wake.Clear();
        EXPECT_FALSE(wake.WaitFor(std::chrono::milliseconds(0)));
    }
}

}  // namespace
}  // namespace korvane
