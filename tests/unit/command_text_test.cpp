#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "frontend/parse_error_text.hpp"
#include "link/machine_code_text.hpp"
#include "proc/child_text_decoder.hpp"
#include "proc/command_line.hpp"
#include "proc/ping_command_line.hpp"
#include "proc/run_and_collect.hpp"
#include "support/platform.hpp"

namespace korvane {
namespace {

const std::string FFFD = "\xEF\xBF\xBD";

struct Row {
    const char* codeset;
    std::vector<std::string> reads;  // what successive reads of a pipe gave
    std::string text;                // Decode of each read and "|", then Flush
};

TEST(ChildTextDecoder, TurnsReadsIntoWholeCharacters) {
    const std::vector<Row> rows = {
        // A character split between reads comes out whole with the later read.
        {"UTF-8", {"a\xE2", "\x82\xAC", "z"}, "a|€|z|"},
        {"UTF-8", {"\xF0\x9D", "", "\x84", "\x9E!"}, "|||\xF0\x9D\x84\x9E!|"},
        // Bytes that form no character become U+FFFD: stray continuations,
        // overlong forms, a surrogate, past U+10FFFF, a character cut short.
        {"UTF-8", {"\xC0\xAF\xE0\x80"}, FFFD + FFFD + FFFD + FFFD + "|"},
        {"UTF-8", {"\xED\xA0\xF4\x90"}, FFFD + FFFD + FFFD + FFFD + "|"},
        {"UTF-8", {"\xE2\x82z"}, FFFD + "z|"},
        {"UTF-8", {"ab\xF0\x9D\x84"}, "ab|" + FFFD},  // unfinished at the end of data
        // The C locale's ASCII passes UTF-8 through; other codesets are
        // converted (Windows' ANSI code pages: iconv and MultiByteToWideChar
        // read them alike), a double-byte character split between reads too.
        {"ANSI_X3.4-1968", {"caf\xC3\xA9"}, "café|"},
        {"CP1252", {"caf\xE9 \x80"}, "café €|"},
        {"CP936", {"\xD6", "\xD0\xCE\xC4 ok"}, "|中文 ok|"},
        {"CP936", {"a\xD6 z", "b\xD6"}, "a" + FFFD + " z|b|" + FFFD},
    };
    for (const Row& row : rows) {
        ChildTextDecoder decoder(row.codeset);
        std::string text;
        for (const std::string& read : row.reads) {
            text += decoder.Decode(read) + "|";
        }
        EXPECT_EQ(text + decoder.Flush(), row.text) << row.codeset << " row " << &row - rows.data();
        // Nothing is held over into what comes next.
        EXPECT_EQ(decoder.Flush() + decoder.Decode(std::string("x")), "x");
    }
}

// The codeset a child writes in is its environment's, not this process's
// locale (which stays "C"). Each test runs in a process of its own.
TEST(ChildOutputCodeset, FollowsTheEnvironment) {
    if (testing::ON_WINDOWS) {
        GTEST_SKIP()
            << "Windows children write in the system's ANSI code page, not the environment's";
    }
    ::setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(ChildOutputCodeset(), "UTF-8");
    ::setenv("LC_ALL", "xx_NOWHERE.KORVANE", 1);  // not installed: the child falls back to "C"
    EXPECT_EQ(ChildOutputCodeset(), "ANSI_X3.4-1968");
}

TEST(SplitCommandLine, SplitsOnWhiteSpaceOnly) {
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"  ping\t-c  4\n127.0.0.1 \r\v\f", {"ping", "-c", "4", "127.0.0.1"}},
        {" \t \n", {}},
        // No quoting, escaping or shell syntax: all else belongs to a word.
        {"a;b c&&d |e 'x y'", {"a;b", "c&&d", "|e", "'x", "y'"}},
        {"a\\ b $(c) `d` $HOME 中文", {"a\\", "b", "$(c)", "`d`", "$HOME", "中文"}},
    };
    for (const auto& [line, words] : rows) {
        EXPECT_EQ(SplitCommandLine(line), words) << line;
    }
}

// Windows' ping ends by itself after four echo requests.
TEST(PingCommandLine, IsTheCountedPingFollowedByTheTypedTextUnchanged) {
    const std::string ping = testing::ON_WINDOWS ? "ping.exe " : "ping -c 4 ";
    EXPECT_EQ(PingCommandLine("192.168.1.88"), ping + "192.168.1.88");
    EXPECT_EQ(PingCommandLine(" 127.0.0.1  -i 0.2 "), ping + " 127.0.0.1  -i 0.2 ");
    // The command line's own count, and the time it may take.
    EXPECT_EQ(PingCommandLine("127.0.0.2", 4), PingCommandLine("127.0.0.2"));
    EXPECT_EQ(PingCommandLine("127.0.0.2", 100),
              testing::ON_WINDOWS ? "ping.exe -n 100 127.0.0.2" : "ping -c 100 127.0.0.2");
    EXPECT_EQ(PingTimeLimit(1), RUN_AND_COLLECT_LIMIT);
    EXPECT_EQ(PingTimeLimit(4), RUN_AND_COLLECT_LIMIT);
    EXPECT_EQ(PingTimeLimit(100), RUN_AND_COLLECT_LIMIT + std::chrono::seconds(96));
}

// The parser's reports as CLI11 words them, in the operator's words; the
// cases the command-line tests do not reach.
TEST(DescribeParseFailure, NamesWhatIsWrongInWords) {
    // clang-format off
    const std::vector<std::pair<ParseFailure, std::string>> rows = {
        {{"ExtrasError", "", {"fw.bin", "--prot=5"}}, "unknown option '--prot'"},
        {{"ExtrasError", "", {"fw.bin", "-"}}, "unexpected argument 'fw.bin'"},
        {{"ArgumentMismatch", "--bind: At Most 1 required but received 3"}, "--bind may be given once, not three times"},
        {{"ArgumentMismatch", "--x: At Most 2 required but received 12"}, "--x takes at most two values, not 12"},
        {{"ArgumentMismatch", "--x: At least 2 required but received 1"}, "--x needs at least two values, not one"},
        {{"ArgumentMismatch", "--bind: 1 required ADDR missing"}, "--bind needs a value (ADDR)"},
        {{"ConversionError", "Could not convert: --port = 99999"}, "--port: '99999' is not a valid value"},
        {{"ConversionError", "--json: too many inputs for a flag"}, "--json is a flag and takes no value"},
        {{"ValidationError", "--count: at least one is needed"}, "--count: at least one is needed"},
    };
    // clang-format on
    for (const auto& [failure, text] : rows) {
        EXPECT_EQ(DescribeParseFailure(failure), text) << failure.message;
    }
}

// The reply's bytes in wire order (each value least significant byte first),
// then the fixed suffix, upper-case.
TEST(MachineCodeText, ShowsTheReplyBytesInWireOrderThenTheFixedSuffix) {
    EXPECT_EQ(FormatMachineCode(0x44332211, 0x88776655), "11223344-5566-7788-6272-61636B6C6531");
    EXPECT_EQ(FormatMachineCode(0xFFFFFFFF, 0x0000BBAA), "FFFFFFFF-AABB-0000-6272-61636B6C6531");
}

}  // namespace
}  // namespace korvane
