#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "frontend/json_text.hpp"
#include "frontend/progress_text.hpp"
#include "frontend/target_list.hpp"
#include "frontend/trace_text.hpp"

// The text helpers of the headless front ends: progress arithmetic and lines,
// target lists, JSON strings.
namespace korvane {
namespace {

TEST(ProgressText, PercentBytesAndTheLineShown) {
    // acknowledged, N, file length -> percent, file bytes acknowledged
    const std::vector<std::array<std::uint64_t, 5>> counts = {
        {0, 5, 20000, 0, 0},   // 20000 bytes: header, 8000, 8000, 4000, end
        {1, 5, 20000, 20, 0},  // the header carries no file bytes
        {4, 5, 20000, 80, 20000},
        {29, 100, 784000, 29, 224000},        // exact in integers: trunc(0.29 * 100.0) is 28
        {395, 396, 3u << 20, 99, 3u << 20},   // every byte, but 100% only after the end
        {400, 396, 3u << 20, 100, 3u << 20},  // duplicate acknowledgements stop at 100%
        {0, 0, 0, 0, 0},
    };
    for (const auto& [acknowledged, datagrams, length, percent, bytes] : counts) {
        EXPECT_EQ(ProgressPercent(acknowledged, datagrams), percent) << acknowledged;
        EXPECT_EQ(AcknowledgedBytes(acknowledged, length), bytes) << acknowledged;
    }
    // clang-format off
    const std::vector<std::pair<ProgressSnapshot, std::string>> lines = {
        {{0, 5, 0, 20000, 0}, "[----------]   0%  0 B / 19.53 KiB  -- /s  ETA --:--"},
        {{29, 100, 224000, 784000, 0.29}, "[##--------]  29%  218.75 KiB / 765.62 KiB  754.31 KiB/s  ETA 0:01"},
        {{394, 394, 3u << 20, 3u << 20, 4}, "[##########] 100%  3.00 MiB / 3.00 MiB  768.00 KiB/s  ETA 0:00"},
        {{1, 3724, 1023, std::uint64_t{5} << 30, 1}, "[----------]   0%  1023 B / 5.00 GiB  1023 B/s  ETA 1:02:03"},
    };
    // clang-format on
    for (const auto& [progress, line] : lines) {
        EXPECT_EQ(FormatProgressLine(progress, 10), line);
    }
}

TEST(TargetList, OneAddressPerLineWhateverTheLineEnds) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"# rack\n127.0.6.1\n\n  127.0.6.2  # spare\n\t\n  #\n", {"127.0.6.1", "127.0.6.2"}},
        {"\xEF\xBB\xBF# BOM\r\na\r\nb\r# x\rc", {"a", "b", "c"}},  // CRLF, CR, no last line end
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

TEST(TraceText, NamesWhatWentAndShowsWhatCame) {
    const std::vector<std::uint8_t> head{0x12, 0x01, 0x2C, 0x1F, 0x40};
    EXPECT_EQ(TraceSentLine(0.0042134, "127.0.0.2", head, 8005),
              "   0.004213 127.0.0.2 > data seq 300, 8005 bytes");
    EXPECT_EQ(TraceSentLine(12.5, "10.0.0.1", std::vector<std::uint8_t>{0x81, 0, 0, 0, 0}, 5),
              "  12.500000 10.0.0.1 > machine-code seq 0, 5 bytes");
    EXPECT_EQ(TraceReceivedLine(1, "127.0.0.2", std::vector<std::uint8_t>{0x12, 0, 1, 6}, false),
              "   1.000000 127.0.0.2 < 12 00 01 06");
    EXPECT_EQ(TraceReceivedLine(1, "127.0.0.2", std::vector<std::uint8_t>{0x11, 0, 0, 6}, true),
              "   1.000000 127.0.0.2 < 11 00 00 06 (waited before the send: ignored)");
    EXPECT_EQ(TraceReceivedLine(1, "d", std::vector<std::uint8_t>(17, 0xAB), false),
              "   1.000000 d < " +
                  std::string(47, ' ').replace(0, 47,
                                               [] {
                                                   std::string hex;
                                                   for (int i = 0; i < 16; ++i) {
                                                       hex += i == 0 ? "ab" : " ab";
                                                   }
                                                   return hex;
                                               }()) +
                  " ... (17 bytes)");
}

}  // namespace
}  // namespace korvane
