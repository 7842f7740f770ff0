#include "support/run_process.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "support/temp_dir.hpp"

// The child-process helper the process tests are built on.
namespace korvane::testing {
namespace {

using ::testing::ElementsAre;

TEST(RunProcess, CollectsBothStreamsAndTheExitCode) {
    const ProcessResult result =
        RunProcess({"/bin/sh", "-c", "printf 'one\\ntwo'; echo oops >&2; exit 3"});
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_FALSE(result.timed_out);
    EXPECT_THAT(SplitLines(result.out), ElementsAre("one", "two"));
    EXPECT_EQ(result.err, "oops\n");
}

TEST(RunProcess, LargeOutputOnBothStreamsIsNotLost) {
    // More than a pipe holds on each stream, written alternately.
    const ProcessResult result =
        RunProcess({"/bin/sh", "-c",
                    "i=0; while [ $i -lt 20000 ]; do echo out$i; echo err$i >&2; "
                    "i=$((i+1)); done"});
    EXPECT_EQ(result.exit_code, 0);
    const auto out = SplitLines(result.out);
    const auto err = SplitLines(result.err);
    ASSERT_EQ(out.size(), 20000u);
    ASSERT_EQ(err.size(), 20000u);
    EXPECT_EQ(out.back(), "out19999");
    EXPECT_EQ(err.back(), "err19999");
}

TEST(RunProcess, FeedsStandardInputAndSetsEnvironmentAndFolder) {
    TempDir dir;
    ProcessOptions options;
    options.stdin_text = std::string(200'000, 'x') + "\n";
    options.set_env["KORVANE_PROBE"] = "set";
    options.unset_env.push_back("HOME");
    options.working_directory = dir.Path();
    const ProcessResult result =
        RunProcess({"/bin/sh", "-c", "wc -c; echo \"$KORVANE_PROBE/${HOME-unset}\"; pwd"}, options);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_THAT(SplitLines(result.out),
                ElementsAre(::testing::EndsWith("200001"), "set/unset", dir.Path().string()));
}

TEST(RunProcess, ChildThatStopsReadingDoesNotHurtTheCaller) {
    ProcessOptions options;
    options.stdin_text = std::string(1 << 20, 'x');
    const ProcessResult result = RunProcess({"/bin/sh", "-c", "exec 0<&-; exit 4"}, options);
    EXPECT_EQ(result.exit_code, 4);
}

TEST(RunProcess, TimeoutKillsTheChildAndWhatItStarted) {
    ProcessOptions options;
    options.timeout = std::chrono::milliseconds(300);
    const auto start = std::chrono::steady_clock::now();
    // The background sleep holds the output pipes open as well.
    const ProcessResult result =
        RunProcess({"/bin/sh", "-c", "echo started; sleep 30 & sleep 30"}, options);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(result.timed_out);
    EXPECT_EQ(result.exit_code, -1);
    EXPECT_EQ(result.term_signal, SIGKILL);
    EXPECT_EQ(result.out, "started\n");
    EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(RunProcess, ProgramThatDoesNotExistThrows) {
    EXPECT_THROW((void)RunProcess({"/nonexistent/korvane-no-such-program"}), std::runtime_error);
}

TEST(RunProcess, SplitLines) {
    EXPECT_TRUE(SplitLines("").empty());
    EXPECT_THAT(SplitLines("a\n"), ElementsAre("a"));
    EXPECT_THAT(SplitLines("a\n\nb"), ElementsAre("a", "", "b"));
}

}  // namespace
}  // namespace korvane::testing
