#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "frontend/json_text.hpp"
#include "frontend/progress_bar_text.hpp"
#include "frontend/progress_rate.hpp"
#include "frontend/progress_text.hpp"
#include "frontend/target_list.hpp"
#include "frontend/trace_text.hpp"

// The text helpers of the headless front ends: progress arithmetic and lines,
// target lists, JSON strings.
namespace korvane {
namespace {

TEST(ProgressText, PercentAndBytes) {
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
}

// The parts go as the width shrinks: the ETA, the rate, the bytes, then the label; the
// bar keeps 10 to 30 cells and its size while the figures change; below 20 the percent.
TEST(ProgressText, LinesFitTheWidth) {
    const ProgressSnapshot at29 = {29, 100, 224000, 784000};
    const ProgressEstimate known = {.bytes_per_second = 772416, .eta_seconds = 1};
    struct Line {
        ProgressSnapshot progress;
        ProgressEstimate estimate;
        std::string label;
        std::size_t width;
        std::string line;
    };
    // clang-format off
    const std::vector<Line> lines = {
        {at29, known, "", 120, "[########----------------------]  29%   218.75 KiB / 765.62 KiB  754.31 KiB/s  ETA 0:01"},
        {at29, known, "", 80, "[######----------------]  29%   218.75 KiB / 765.62 KiB  754.31 KiB/s  ETA 0:01"},
        {at29, known, "", 60, "[###----------]  29%   218.75 KiB / 765.62 KiB  754.31 KiB/s"},
        {at29, known, "", 50, "[####-------------]  29%   218.75 KiB / 765.62 KiB"},
        {at29, known, "", 40, "[########----------------------]  29%"},
        {at29, known, "", 20, "[###----------]  29%"},
        {at29, known, "", 19, "29%"},
        {at29, known, "3 devices ", 80, "3 devices [###---------]  29%   218.75 KiB / 765.62 KiB  754.31 KiB/s  ETA 0:01"},
        {at29, known, "3 devices ", 40, "3 devices [######-----------------]  29%"},
        {at29, known, "3 devices ", 20, "[###----------]  29%"},
        // Not a terminal: every part. Nothing known yet; hours; stalled.
        {{0, 5, 0, 20000}, {}, "", UNLIMITED_WIDTH, "[------------------------------]   0%          0 B / 19.53 KiB         -- /s  ETA --:--"},
        {{1, 3724, 1023, std::uint64_t{5} << 30}, {1023, 3723, false}, "", UNLIMITED_WIDTH, "[------------------------------]   0%       1023 B / 5.00 GiB      1023 B/s  ETA 1:02:03"},
        {at29, {.stalled = true}, "", 80, "[#####---------------]  29%   218.75 KiB / 765.62 KiB         -- /s  ETA stalled"},
    };
    // clang-format on
    for (const Line& row : lines) {
        const std::string line =
            FormatProgressLine(row.progress, row.estimate, row.width, row.label);
        EXPECT_EQ(line, row.line) << row.width;
        EXPECT_LE(line.size(), row.width);
    }
    // One device of a fleet: the bar leaves room for the longest state; then the state
    // goes, then the bar, then the address.
    const std::vector<std::pair<std::size_t, std::string>> devices = {
        {60, "127.0.0.2   [########----------------------]  29%  stalled"},
        {40, "127.0.0.2   [##--------]  29%  stalled"},
        {30, "127.0.0.2   [###--------]  29%"},
        {20, "127.0.0.2    29%"},
        {12, "29%"},
    };
    for (const auto& [width, line] : devices) {
        EXPECT_EQ(FormatDeviceLine("127.0.0.2 ", at29, "stalled", 9, width), line) << width;
    }
}

// Rate and ETA come from the last 5 s; the ETA counts down while nothing arrives
// and gives way to "stalled" after 1 s; a lower count (a new attempt) starts over.
TEST(ProgressText, EstimateFromRecentAcknowledgements) {
    struct Row {
        std::vector<std::array<double, 3>> samples;  // seconds, acknowledged, bytes
        double now;
        std::uint64_t datagrams;
        std::optional<double> rate, eta;
        bool stalled;
    };
    const std::vector<std::array<double, 3>> steady = {{0, 0, 0}, {1, 100, 792000}};
    const std::vector<Row> rows = {
        {{{0, 0, 0}}, 0.5, 200, {}, {}, false},
        {steady, 1.0, 200, 792000, 1.0, false},
        {steady, 1.5, 200, 792000, 0.5, false},  // no growth while silent
        {steady, 2.0, 200, {}, {}, true},
        {steady, 9.0, 100, 792000, 0.0, false},  // done: never stalled
        // The slow first 4 s are out of the window: 100/s, not the run's 61/s.
        {{{0, 0, 0}, {4, 10, 72000}, {10, 610, 4872000}}, 10.0, 1000, 800000, 3.9, false},
        {{{0, 0, 0}, {1, 100, 792000}, {2, 5, 32000}}, 2.0, 200, {}, {}, false},
    };
    for (const Row& row : rows) {
        ProgressRate rate;
        for (const auto& [seconds, acknowledged, bytes] : row.samples) {
            rate.Add(seconds, static_cast<std::uint64_t>(acknowledged),
                     static_cast<std::uint64_t>(bytes));
        }
        const ProgressEstimate estimate = rate.Estimate(row.now, row.datagrams);
        EXPECT_EQ(estimate.bytes_per_second, row.rate) << row.now;
        ASSERT_EQ(estimate.eta_seconds.has_value(), row.eta.has_value()) << row.now;
        if (row.eta) {
            EXPECT_NEAR(*estimate.eta_seconds, *row.eta, 1e-9) << row.now;
        }
        EXPECT_EQ(estimate.stalled, row.stalled) << row.now;
    }
}

// The window's bar: text and filled pixels, truncated toward zero, saturated, never a fault.
TEST(ProgressBarText, CaptionPercentAndPixels) {
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    struct Row {
        const char* caption;
        int position, minimum, maximum, width;
        const char* text;
        int pixels;
    };
    const std::vector<Row> rows = {
        {"Downloading", 3, 0, 9, 201, "Downloading33%", 67},
        {"Downloading", 6, 0, 9, 201, "Downloading66%", 134},
        {"Downloading", 0, 0, 9, 201, "Downloading", 0},         // 0%: the caption alone
        {"Downloading", 10, 0, 9, 201, "Downloading100%", 223},  // past the end: capped text only
        {"下载", 3, 0, 9, 201, "下载33%", 67},
        {"", 29, 0, 100, 100, "28%", 28},  // 0.29 * 100 lies just below 29
        {"", 1, 0, 200, 201, "", 1},       // half a percent
        {"", 2, 0, 200, 201, "1%", 2},
        {"Downloading", -10, 0, 100, 201, "Downloading-10%", -20},  // below: not raised
        {"", 90, 100, 200, 201, "", -20},
        {"Downloading", 5, 5, 5, 201, "", 0},   // empty range: 0 / 0
        {"", 6, 5, 5, 201, "", kMax},           // 1 / 0
        {"Downloading", 5, 9, 0, 201, "", 89},  // inverted range
        {"", kMax, kMin, kMax, 1000, "100%", 1000},
        {"", kMin, 0, 1, 1000, "", kMin},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ProgressBarText(row.caption, row.position, row.minimum, row.maximum), row.text)
            << row.position << " in " << row.minimum << ".." << row.maximum;
        EXPECT_EQ(BarPixels(row.width, row.position, row.minimum, row.maximum), row.pixels)
            << row.position << " in " << row.minimum << ".." << row.maximum;
    }
}

TEST(TargetList, OneAddressPerLineWhateverTheLineEnds) {
    const std::vector<std::pair<std::string, std::vector<TargetLine>>> cases = {
        {"# rack\n127.0.6.1\n\n  127.0.6.2  # spare\n\t\n  #\n",
         {{"127.0.6.1", 2}, {"127.0.6.2", 4}}},
        {"\xEF\xBB\xBF# BOM\r\na\r\nb\r# x\rc",
         {{"a", 2}, {"b", 3}, {"c", 5}}},  // CRLF, CR, no last end
    };
    for (const auto& [text, targets] : cases) {
        EXPECT_EQ(ParseTargetLines(text), targets) << text;
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
              "   1.000000 d < ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ... (17 bytes)");
}

}  // namespace
}  // namespace korvane
