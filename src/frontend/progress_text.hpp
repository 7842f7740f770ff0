#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

// Where a download (or a fleet of them, summed) stands.
struct ProgressSnapshot {
    std::uint64_t acknowledged = 0;  // datagrams acknowledged so far
    std::uint64_t datagrams = 0;     // N
    std::uint64_t bytes_done = 0;    // file bytes in acknowledged datagrams
    std::uint64_t bytes_total = 0;
    double elapsed_seconds = 0;
};

// Whole percent of the datagrams acknowledged: acknowledged * 100 / N,
// truncated, computed exactly in integers and capped at 100. 100% therefore
// means the end datagram too was acknowledged. (The window's bar computes
// trunc(pos / (N - 1) * 100) in floating point over the range 0..N-1 and
// reaches 100% one acknowledgement earlier.)
[[nodiscard]] unsigned ProgressPercent(std::uint64_t acknowledged,
                                       std::uint64_t datagrams) noexcept;

// File bytes carried by the first `acknowledged` datagrams of a download of
// `length` bytes: the header carries none, each chunk up to 8000, the end none.
[[nodiscard]] std::uint64_t AcknowledgedBytes(std::uint64_t acknowledged,
                                              std::uint64_t length) noexcept;

// "1.50 MiB", "512 B", "3.00 KiB" ...
[[nodiscard]] std::string FormatBytes(std::uint64_t bytes);

// "0:07", "12:05", "1:02:03"; "--:--" when unknown (negative).
[[nodiscard]] std::string FormatDuration(double seconds);

// One progress line without line ending:
//   [#########-----------]  45%  1.35 MiB / 3.00 MiB  790.12 KiB/s  ETA 0:04
// The bar has `bar_width` cells, filled in proportion to the datagrams
// acknowledged. Rate and ETA show "--" until something has been acknowledged.
[[nodiscard]] std::string FormatProgressLine(const ProgressSnapshot& progress,
                                             std::size_t bar_width);

}  // namespace korvane
