#include "frontend/progress_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

TEST(ProgressPercent, TruncatesTheShareOfAcknowledgedDatagrams) {
    struct Case {
        std::uint64_t acknowledged;
        std::uint64_t datagrams;
        unsigned percent;
    };
    const std::vector<Case> cases = {
        {0, 5, 0},       {1, 2, 50},     // empty file: the header is half of it
        {2, 2, 100},     {29, 100, 29},  // exact in integers (trunc(0.29 * 100.0) would give 28)
        {57, 100, 57},   {1, 3, 33},      {2, 3, 66},  // truncated, not rounded
        {99, 100, 99},   {392, 394, 99},               // one short of the end is not 100%
        {394, 394, 100}, {400, 394, 100},  // duplicate acknowledgements never run past 100%
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.acknowledged) + "/" + std::to_string(c.datagrams));
        EXPECT_EQ(ProgressPercent(c.acknowledged, c.datagrams), c.percent);
    }
}

TEST(AcknowledgedBytes, CountsTheChunksOfAcknowledgedDatagrams) {
    struct Case {
        std::uint64_t acknowledged;
        std::uint64_t length;
        std::uint64_t bytes;
    };
    const std::vector<Case> cases = {
        {0, 20000, 0},     {1, 20000, 0},  // the header carries no file bytes
        {2, 20000, 8000},  {3, 20000, 16000}, {4, 20000, 20000},  // last chunk is 4000
        {5, 20000, 20000}, {1, 0, 0},         {2, 0, 0},         {2, 8000, 8000}, {3, 8001, 8001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.acknowledged) + " of " + std::to_string(c.length));
        EXPECT_EQ(AcknowledgedBytes(c.acknowledged, c.length), c.bytes);
    }
}

TEST(FormatBytes, UsesBinaryUnits) {
    EXPECT_EQ(FormatBytes(0), "0 B");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1024), "1.00 KiB");
    EXPECT_EQ(FormatBytes(20000), "19.53 KiB");
    EXPECT_EQ(FormatBytes(3u << 20), "3.00 MiB");
    EXPECT_EQ(FormatBytes(std::uint64_t{5} << 30), "5.00 GiB");
}

TEST(FormatDuration, MinutesAndSecondsOrHours) {
    EXPECT_EQ(FormatDuration(0), "0:00");
    EXPECT_EQ(FormatDuration(4.4), "0:04");
    EXPECT_EQ(FormatDuration(65), "1:05");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
    EXPECT_EQ(FormatDuration(-1), "--:--");
}

TEST(FormatProgressLine, ShowsBarPercentBytesRateAndEta) {
    struct Case {
        ProgressSnapshot progress;
        std::size_t width;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{.acknowledged = 0, .datagrams = 5, .bytes_done = 0, .bytes_total = 20000},
         10,
         "[----------]   0%  0 B / 19.53 KiB  -- /s  ETA --:--"},
        {{.acknowledged = 2,
          .datagrams = 4,
          .bytes_done = 8000,
          .bytes_total = 8001,
          .elapsed_seconds = 2},
         10,
         "[#####-----]  50%  7.81 KiB / 7.81 KiB  3.91 KiB/s  ETA 0:02"},
        {{.acknowledged = 29,
          .datagrams = 100,
          .bytes_done = 224000,
          .bytes_total = 784000,
          .elapsed_seconds = 0.29},
         20,
         "[#####---------------]  29%  218.75 KiB / 765.62 KiB  754.31 KiB/s  ETA 0:01"},
        {{.acknowledged = 394,
          .datagrams = 394,
          .bytes_done = 3u << 20,
          .bytes_total = 3u << 20,
          .elapsed_seconds = 4},
         10,
         "[##########] 100%  3.00 MiB / 3.00 MiB  768.00 KiB/s  ETA 0:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatProgressLine(c.progress, c.width), c.line);
    }
}

}  // namespace
}  // namespace korvane
