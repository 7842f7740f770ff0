#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// Where a download (or a fleet of them, summed) stands.
struct ProgressSnapshot {
    std::uint64_t acknowledged = 0;  // datagrams acknowledged so far
    std::uint64_t datagrams = 0;     // N
    std::uint64_t bytes_done = 0;    // file bytes in acknowledged datagrams
    std::uint64_t bytes_total = 0;
};

// How fast it goes and how long it still takes (ProgressRate); nothing is
// known before the first acknowledgement.
struct ProgressEstimate {
    std::optional<double> bytes_per_second;
    std::optional<double> eta_seconds;
    bool stalled = false;  // no acknowledgement for a while: the ETA means nothing
};

// Whole percent of the datagrams acknowledged: acknowledged * 100 / N,
// truncated, computed exactly in integers and capped at 100. 100% therefore
// means the end datagram too was acknowledged.
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

// The narrowest line that still shows a bar; narrower ones show the percent alone.
inline constexpr std::size_t MIN_PROGRESS_LINE = 20;
// No line limit (a file or pipe): every part, the bar at its widest.
inline constexpr std::size_t UNLIMITED_WIDTH = static_cast<std::size_t>(-1);

// One progress line without line ending, at most `width` characters:
//   LABEL[##########----------]  45%     1.35 MiB / 3.00 MiB   790.12 KiB/s  ETA 0:04
// The bar has up to 30 cells, filled in proportion to the datagrams
// acknowledged. The figures are right-aligned in the room their widest form
// takes, so that nothing moves as they change. As the width shrinks the bar
// gives up cells down to 10; then the parts go in a fixed order: the ETA, the
// rate, the bytes, the label. Below MIN_PROGRESS_LINE only the percent is
// left ("45%"). Rate and ETA show "--" until they are known; a stalled
// download shows "ETA stalled".
[[nodiscard]] std::string FormatProgressLine(const ProgressSnapshot& progress,
                                             const ProgressEstimate& estimate, std::size_t width,
                                             std::string_view label = {});

// One device's line of a fleet, at most `width` characters:
//   127.0.0.2  [#########-----------]  45%  sending
// `address` comes padded to the fleet's widest address, and the bar leaves
// `state_width` columns for the state (or the state's own length if that is
// more), so that the bars line up whatever each device's state. As the width
// shrinks the bar gives up cells down to 10, then the state goes, then the
// bar, then the address.
[[nodiscard]] std::string FormatDeviceLine(std::string_view address,
                                           const ProgressSnapshot& progress, std::string_view state,
                                           std::size_t state_width, std::size_t width);

}  // namespace korvane
