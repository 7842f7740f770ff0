#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "proc/command_line.hpp"
#include "proc/ping_command_line.hpp"
#include "proc/run_and_collect.hpp"
#include "support/temp_dir.hpp"

// Pings only loopback addresses of the proc/ping block, 127.0.7.x.
namespace korvane {
namespace {

using ::testing::HasSubstr;

TEST(Ping, ShowsTheRepliesOfFourEchoRequests) {
    std::string output;
    const RunOutcome outcome = RunAndCollect(PingCommandLine("127.0.7.1"), output);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_THAT(output, HasSubstr("PING 127.0.7.1"));
    EXPECT_THAT(output, HasSubstr("bytes from 127.0.7.1"));
    EXPECT_THAT(output, HasSubstr("4 packets transmitted, 4 received"));
}

TEST(Ping, ExtraTypedWordsReachPingAsOptions) {
    std::string output;
    const RunOutcome outcome = RunAndCollect(PingCommandLine("127.0.7.2 -i 0.2"), output);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_THAT(output, HasSubstr("4 packets transmitted, 4 received"));
}

TEST(Ping, ShellSyntaxInTheAddressHasNoShellEffect) {
    testing::TempDir dir;
    const std::string marker = (dir.Path() / "X").string();
    for (const std::string& typed :
         {"127.0.7.3; touch " + marker, "127.0.7.3 && touch " + marker,
          "127.0.7.3 | touch " + marker, "$(touch " + marker + ")", "`touch " + marker + "`"}) {
        SCOPED_TRACE(typed);
        const std::string line = PingCommandLine(typed);
        std::vector<std::string> words{"ping", "-c", "4"};
        for (auto& word : SplitCommandLine(typed))
            words.push_back(word);
        EXPECT_EQ(SplitCommandLine(line), words);

        std::string output;
        const RunOutcome outcome = RunAndCollect(line, output);
        EXPECT_TRUE(outcome.started);
        EXPECT_NE(outcome.exit_status, 0);
        // ping's own complaint about the words it was given.
        EXPECT_THAT(output, HasSubstr("ping: "));
        EXPECT_FALSE(std::filesystem::exists(marker));
    }
}

// Sets PATH for one test and puts the old value back.
class PathOverride {
public:
    explicit PathOverride(const char* value) {
        if (const char* old = ::getenv("PATH"))
            old_ = old;
        ::setenv("PATH", value, 1);
    }
    ~PathOverride() {
        if (old_)
            ::setenv("PATH", old_->c_str(), 1);
    }
    PathOverride(const PathOverride&) = delete;
    PathOverride& operator=(const PathOverride&) = delete;

private:
    std::optional<std::string> old_;
};

TEST(Ping, WithoutAPingProgramTheWholeCommandLineIsReported) {
    std::string output;
    RunOutcome outcome;
    {
        const PathOverride nowhere("/nonexistent-korvane");
        outcome = RunAndCollect(PingCommandLine("127.0.7.4"), output);
    }
    EXPECT_FALSE(outcome.started);
    EXPECT_EQ(output, "Unable to start ping -c 4 127.0.7.4\n");
}

}  // namespace
}  // namespace korvane
