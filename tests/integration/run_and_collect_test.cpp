#include "proc/run_and_collect.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>

#include "support/child_scripts.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(RunAndCollect, GathersBothStreamsOfACommandThatEnds) {
    testing::TempDir dir;
    const auto script =
        testing::WriteScript(dir, "both.sh", "echo to-out\necho to-err >&2\nexit 0\n");
    std::string output = "stale";
    const RunOutcome outcome = RunAndCollect(script.string(), output);
    EXPECT_TRUE(outcome.started);
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(output.size(), std::string("to-out\nto-err\n").size());
    EXPECT_THAT(output, ::testing::HasSubstr("to-out\n"));
    EXPECT_THAT(output, ::testing::HasSubstr("to-err\n"));
}

TEST(RunAndCollect, CommandThatCannotStart) {
    std::string output;
    const auto start = std::chrono::steady_clock::now();
    const RunOutcome outcome = RunAndCollect("/nonexistent-korvane/ping -c 4 x", output);
    EXPECT_LT(SecondsSince(start), 1.0);  // a child that never started costs no wait
    EXPECT_FALSE(outcome.started);
    EXPECT_FALSE(outcome.exit_status.has_value());
    EXPECT_EQ(output, "Unable to start /nonexistent-korvane/ping -c 4 x\n");
}

TEST(RunAndCollect, EndsACommandThatOutlivesTheLimitAndKeepsItsOutput) {
    testing::TempDir dir;
    const auto script = testing::WriteScript(dir, "endless.sh", "echo before\nexec sleep 1000\n");
    std::string output;
    const auto start = std::chrono::steady_clock::now();
    const RunOutcome outcome = RunAndCollect(script.string(), output, 300ms);
    const double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 0.3);
    EXPECT_LT(seconds, 5.0);
    EXPECT_TRUE(outcome.timed_out);
    EXPECT_EQ(outcome.exit_status, 128 + SIGTERM);
    EXPECT_EQ(output, "before\n");
}

TEST(RunAndCollect, EndsACommandThatIgnoresTermAtTheLimit) {
    testing::TempDir dir;
    const auto script = testing::WriteScript(
        dir, "stubborn.sh", "trap '' TERM\necho before\nwhile :; do sleep 1; done\n");
    std::string output;
    const auto start = std::chrono::steady_clock::now();
    const RunOutcome outcome = RunAndCollect(script.string(), output, 300ms);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_TRUE(outcome.timed_out);
    EXPECT_EQ(outcome.exit_status, 128 + SIGKILL);
    EXPECT_EQ(output, "before\n");
}

TEST(RunAndCollect, DefaultLimitIsOneMinute) {
    EXPECT_EQ(RUN_AND_COLLECT_LIMIT, 60s);
}

}  // namespace
}  // namespace korvane
