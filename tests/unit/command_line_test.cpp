#include "proc/command_line.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "proc/ping_command_line.hpp"

namespace korvane {
namespace {

using Words = std::vector<std::string>;

struct SplitCase {
    std::string line;
    Words words;
};

TEST(SplitCommandLine, SplitsOnWhiteSpaceOnly) {
    const std::vector<SplitCase> cases = {
        {"ping -c 4 127.0.0.1", {"ping", "-c", "4", "127.0.0.1"}},
        {"  ping\t-c  4\n127.0.0.1 \r\v\f", {"ping", "-c", "4", "127.0.0.1"}},
        {"ping", {"ping"}},
        {"", {}},
        {" \t \n", {}},
        // No quoting, escaping or shell syntax: every character but white
        // space belongs to a word.
        {"a;b c&&d |e", {"a;b", "c&&d", "|e"}},
        {"'x y' \"z w\"", {"'x", "y'", "\"z", "w\""}},
        {"a\\ b $(c) `d`", {"a\\", "b", "$(c)", "`d`"}},
        {"中文 地址", {"中文", "地址"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(SplitCommandLine(c.line), c.words);
    }
}

struct PingCase {
    std::string typed;
    std::string line;
};

TEST(PingCommandLine, IsTheCountedPingFollowedByTheTextUnchanged) {
    const std::vector<PingCase> cases = {
        {"192.168.1.88", "ping -c 4 192.168.1.88"},
        {" 127.0.0.1 ", "ping -c 4  127.0.0.1 "},
        {"127.0.0.1 -i 0.2", "ping -c 4 127.0.0.1 -i 0.2"},
        {"not an address", "ping -c 4 not an address"},
        {"", "ping -c 4 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(PingCommandLine(c.typed), c.line);
    }
}

TEST(PingCommandLine, ShellSyntaxReachesPingAsPlainWords) {
    const std::string typed = "127.0.0.1; touch /tmp/korvane-x/X";
    EXPECT_EQ(SplitCommandLine(PingCommandLine(typed)),
              (Words{"ping", "-c", "4", "127.0.0.1;", "touch", "/tmp/korvane-x/X"}));
    EXPECT_EQ(SplitCommandLine(PingCommandLine("$(reboot)|x&&y")),
              (Words{"ping", "-c", "4", "$(reboot)|x&&y"}));
}

}  // namespace
}  // namespace korvane
