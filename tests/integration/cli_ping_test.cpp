#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_process.hpp"
#include "support/temp_dir.hpp"

// korvane-cli ping as the operator runs it; loopback addresses 127.0.7.1x only.
namespace korvane {
namespace {

using ::testing::HasSubstr;

TEST(CliPing, PrintsTheRepliesAndSucceeds) {
    const auto run = testing::RunCli({"ping", "--ip", "127.0.7.10"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("bytes from 127.0.7.10"));
    EXPECT_THAT(run.out, HasSubstr("4 packets transmitted, 4 received"));
    EXPECT_EQ(run.err, "");
}

TEST(CliPing, EmptyAddressIsBadInput) {
    const auto run = testing::RunCli({"ping", "--ip", ""});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "IP is empty\n");
    EXPECT_EQ(run.out, "");
}

TEST(CliPing, MissingAddressOptionIsBadInput) {
    const auto run = testing::RunCli({"ping"});
    EXPECT_EQ(run.exit_code, 2);
}

TEST(CliPing, PingThatCannotStartFails) {
    const auto run = testing::RunCli({"ping", "--ip", "127.0.7.11"},
                                     {.set_env = {{"PATH", "/nonexistent-korvane"}}});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "Unable to start ping -c 4 127.0.7.11\n");
}

TEST(CliPing, ShellSyntaxFailsInPingNotInAShell) {
    testing::TempDir dir;
    const std::string marker = (dir.Path() / "X").string();
    const auto run = testing::RunCli({"ping", "--ip", "127.0.7.12; touch " + marker});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.out, HasSubstr("ping: "));
    EXPECT_FALSE(std::filesystem::exists(marker));
}

}  // namespace
}  // namespace korvane
