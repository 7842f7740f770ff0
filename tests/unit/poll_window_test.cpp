#include "base/poll_window.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace korvane {
namespace {

using std::chrono::microseconds;

// Counts the receives a Poll tries; `hit` decides whether one takes something.
int Tries(PollWindow& window, bool hit) {
    int tries = 0;
    const bool took = window.Poll([&] {
        ++tries;
        return hit;
    });
    EXPECT_EQ(took, hit && tries > 0);
    return tries;
}

// A peer that answers within the window is looked for every time; one that
// misses is slept for at once 15 times, then 31, then 63 ...; a catch starts
// over. A spinning sender against a slow device would burn a core otherwise.
TEST(PollWindow, LooksAgainOnlyAfterMoreAndMoreMissesInARow) {
    PollWindow window(microseconds(200), 2);
    EXPECT_EQ(Tries(window, true), 1);
    EXPECT_EQ(Tries(window, true), 1);
    EXPECT_GE(Tries(window, false), 1);  // the whole window, then sleep
    for (const int skipped : {15, 31, 63}) {
        for (int wait = 0; wait < skipped; ++wait) {
            ASSERT_EQ(Tries(window, true), 0) << "after a miss, wait " << wait;
        }
        EXPECT_GE(Tries(window, false), 1);
    }
    for (int wait = 0; wait < 127; ++wait) {
        ASSERT_EQ(Tries(window, true), 0);
    }
    EXPECT_EQ(Tries(window, true), 1);  // caught: the next miss skips 15 again
    EXPECT_GE(Tries(window, false), 1);
    for (int wait = 0; wait < 15; ++wait) {
        ASSERT_EQ(Tries(window, true), 0);
    }
    EXPECT_EQ(Tries(window, true), 1);
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
        EXPECT_EQ(Tries(window, true), row.looks ? 1 : 0) << row.cores << " cores";
        others.clear();
        EXPECT_EQ(Tries(window, true), row.cores >= 2 ? 1 : 0) << "alone, " << row.cores;
    }
}

}  // namespace
}  // namespace korvane
