#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "frontend/json_text.hpp"
#include "frontend/progress_text.hpp"
#include "frontend/target_list.hpp"

// The text helpers of the headless front ends: progress arithmetic and lines,
// target lists, JSON strings.
namespace korvane {
namespace {

TEST(ProgressText, PercentAndBytesOfTheAcknowledgedDatagrams) {
    // acknowledged, N, file length -> percent, file bytes acknowledged
    const std::vector<std::array<std::uint64_t, 5>> cases = {
        // 20000 bytes: header, 8000, 8000, 4000, end.
        {0, 5, 20000, 0, 0},
        {1, 5, 20000, 20, 0},  // the header carries no file bytes
        {4, 5, 20000, 80, 20000},
        {1, 2, 0, 50, 0},                     // empty file: header + end
        {2, 3, 8000, 66, 8000},               // truncated, not rounded
        {29, 100, 784000, 29, 224000},        // exact in integers: trunc(0.29 * 100.0) is 28
        {395, 396, 3u << 20, 99, 3u << 20},   // every byte, but 100% only after the end
        {400, 396, 3u << 20, 100, 3u << 20},  // duplicate acknowledgements stop at 100%
        {0, 0, 0, 0, 0},
    };
    for (const auto& [acknowledged, datagrams, length, percent, bytes] : cases) {
        SCOPED_TRACE(std::to_string(acknowledged) + "/" + std::to_string(datagrams));
        EXPECT_EQ(ProgressPercent(acknowledged, datagrams), percent);
        EXPECT_EQ(AcknowledgedBytes(acknowledged, length), bytes);
    }
}

TEST(ProgressText, LineShowsBarPercentBytesRateAndEta) {
    const std::vector<std::pair<ProgressSnapshot, std::string>> cases = {
        {{0, 5, 0, 20000, 0}, "[----------]   0%  0 B / 19.53 KiB  -- /s  ETA --:--"},
        {{29, 100, 224000, 784000, 0.29},
         "[##--------]  29%  218.75 KiB / 765.62 KiB  754.31 KiB/s  ETA 0:01"},
        {{394, 394, 3u << 20, 3u << 20, 4},
         "[##########] 100%  3.00 MiB / 3.00 MiB  768.00 KiB/s  ETA 0:00"},
        {{1, 3724, 1023, std::uint64_t{5} << 30, 1},
         "[----------]   0%  1023 B / 5.00 GiB  1023 B/s  ETA 1:02:03"},
    };
    for (const auto& [progress, line] : cases) {
        EXPECT_EQ(FormatProgressLine(progress, 10), line);
    }
}

TEST(TargetList, OneAddressPerLineWhateverTheLineEnds) {
    using Targets = std::vector<std::string>;
    const std::vector<std::pair<std::string, Targets>> cases = {
        {"", {}},
        {"127.0.6.1", {"127.0.6.1"}},
        {"# rack\n127.0.6.1\n\n  127.0.6.2  # spare\n\t\n127.0.6.3\n",
         {"127.0.6.1", "127.0.6.2", "127.0.6.3"}},
        {"\xEF\xBB\xBF# BOM, CRLF\r\n127.0.6.1\r\n127.0.6.2\r\n", {"127.0.6.1", "127.0.6.2"}},
        {"127.0.6.1\r127.0.6.2\r# x\r127.0.6.3", {"127.0.6.1", "127.0.6.2", "127.0.6.3"}},  // CR
        {"a\rb\r\nc\nd\n\r", {"a", "b", "c", "d"}},
        {"abc\n  #\n", {"abc"}},  // unchecked here: the download refuses it
    };
    for (const auto& [text, targets] : cases) {
        EXPECT_EQ(ParseTargetList(text), targets) << text;
    }
}

TEST(JsonString, ValidJsonInValidUtf8ForAnyBytes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", R"("")"},
        {"a\"b\\c/", R"("a\"b\\c/")"},
        {std::string("\n\r\t\x01\x1f\x7f\0", 7), "\"\\n\\r\\t\\u0001\\u001f\x7f\\u0000\""},
        {"固件 é €😀", "\"固件 é €😀\""},
        // The extremes of each length: U+0080, U+07FF, U+0800, U+FFFF, U+10000, U+10FFFF.
        {"\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
         "\"\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\""},
        {"fw\xFF\xC3.bin", R"("fw\udcff\udcc3.bin")"},    // never in UTF-8; truncated lead
        {"\x80\xBF.", R"("\udc80\udcbf.")"},              // stray continuation bytes
        {"\xC0\xAF\xC1\xBF\xE0\x9F\xBF\xF0\x8F\xBF\xBF",  // overlong forms
         R"("\udcc0\udcaf\udcc1\udcbf\udce0\udc9f\udcbf\udcf0\udc8f\udcbf\udcbf")"},
        {"\xED\xA0\x80\xED\xBF\xBF", R"("\udced\udca0\udc80\udced\udcbf\udcbf")"},  // surrogates
        {"\xF4\x90\x80\x80\xF5\x80", R"("\udcf4\udc90\udc80\udc80\udcf5\udc80")"},  // > U+10FFFF
        {"\xE2\x82.\xF0\x9F\x98", R"("\udce2\udc82.\udcf0\udc9f\udc98")"},          // truncated
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(JsonString(text), json);
    }
}

}  // namespace
}  // namespace korvane
