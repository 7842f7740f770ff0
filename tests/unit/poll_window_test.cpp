#include "base/poll_window.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace korvane {
namespace {

using std::chrono::microseconds;

// The receives one Poll tries, of which the `hit_at`-th takes something (0: none).
int Tries(PollWindow& window, int hit_at) {
    int tries = 0;
    const bool took = window.Poll([&] { return ++tries == hit_at; });
    EXPECT_EQ(took, tries == hit_at);
    return tries;
}

// A peer that keeps up is looked for every time, also after one miss; after
// a second miss in a row the next waits only look once and sleep, 15 of
// them, then 31, 63 ... (up to 1023); only a datagram caught in the window
// starts over. A spinning sender against a slow
// device would burn a core otherwise, and a fleet of simulators, each of
// which finds most requests already waiting, would keep the cores spinning.
TEST(PollWindow, LooksAgainOnlyAfterMoreAndMoreMissesInARow) {
    PollWindow window(microseconds(200), 2);
    const auto sleeps_at_once = [&](int waits) {
        for (int wait = 0; wait < waits; ++wait) {
            ASSERT_EQ(Tries(window, 0), 1) << "wait " << wait << " of " << waits;
        }
    };
    EXPECT_EQ(Tries(window, 1), 1);  // already there
    EXPECT_EQ(Tries(window, 2), 2);  // caught in the window
    EXPECT_GE(Tries(window, 0), 2);  // missed: the whole window
    EXPECT_EQ(Tries(window, 2), 2);  // one miss alone changes nothing
    EXPECT_GE(Tries(window, 0), 2);
    EXPECT_GE(Tries(window, 0), 2);  // the second in a row
    for (const int skipped : {15, 31, 63, 127, 255, 511, 1023, 1023}) {
        sleeps_at_once(skipped);
        EXPECT_GE(Tries(window, 0), 2) << "after " << skipped;
    }
    EXPECT_EQ(Tries(window, 1), 1);  // already there: no news of the peer's pace
    sleeps_at_once(1023);
    EXPECT_EQ(Tries(window, 2), 2);  // caught: two misses skip 15 again
    EXPECT_GE(Tries(window, 0), 2);
    EXPECT_GE(Tries(window, 0), 2);
    sleeps_at_once(15);
    EXPECT_GE(Tries(window, 0), 2);
}

// A process looks only while it has no more windows than half the cores: a
// fleet of exchanges, or one core, sleeps at once.
TEST(PollWindow, LooksOnlyWhileHalfTheCoresCoverEveryWindow) {
    struct Row {
        unsigned cores;
        int others;  // further windows alive at the same time
        bool looks;
    };
    for (const Row row : {Row{1, 0, false}, Row{2, 0, true}, Row{2, 1, false}, Row{4, 1, true},
                          Row{4, 2, false}, Row{64, 15, true}}) {
        PollWindow window(microseconds(50), row.cores);
        std::vector<std::optional<PollWindow>> others(row.others);
        for (auto& other : others) {
            other.emplace(microseconds(50), row.cores);
        }
        EXPECT_EQ(Tries(window, 2), row.looks ? 2 : 1) << row.cores << " cores";
        others.clear();
        EXPECT_EQ(Tries(window, 2), row.cores >= 2 ? 2 : 1) << "alone, " << row.cores;
    }
}

}  // namespace
}  // namespace korvane
