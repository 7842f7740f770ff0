#include "frontend/progress_text.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "link/protocol.hpp"

namespace korvane {
namespace {

constexpr std::size_t MAX_BAR = 30;
constexpr std::size_t MIN_BAR = 10;

// "[" and "] " around the bar's cells.
constexpr std::size_t BAR_FRAME = 3;

// " 45%": the percent in four columns.
std::string PercentText(const ProgressSnapshot& progress) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%3u%%",
                  ProgressPercent(progress.acknowledged, progress.datagrams));
    return text.data();
}

// The percent without its padding, cut to `width` if even that is too wide.
std::string Trimmed(const std::string& percent, std::size_t width) {
    const std::string text = percent.substr(percent.find_first_not_of(' '));
    return text.substr(0, width);
}

// head + "[bar] " + tail, the bar as wide as `width` allows up to MAX_BAR
// when the tail is `tail_width` wide (its widest, so that the bar keeps its
// size while the figures change); nothing when the bar would get fewer than
// MIN_BAR cells.
std::optional<std::string> WithBar(std::string_view head, const ProgressSnapshot& progress,
                                   std::string_view tail, std::size_t tail_width,
                                   std::size_t width) {
    const std::size_t fixed = head.size() + BAR_FRAME + std::max(tail.size(), tail_width);
    if (width < fixed + MIN_BAR) {
        return std::nullopt;
    }
    const std::size_t cells = std::min(MAX_BAR, width - fixed);
    const std::uint64_t acknowledged = std::min(progress.acknowledged, progress.datagrams);
    const std::size_t filled =
        progress.datagrams == 0
            ? 0
            : static_cast<std::size_t>(acknowledged * cells / progress.datagrams);
    std::string line(head);
    line += '[';
    line.append(filled, '#');
    line.append(cells - filled, '-');
    line += "] ";
    line += tail;
    return line;
}

// `text` right-aligned in `width` columns.
std::string Padded(const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

// The room of the figures: the widest byte count below 1 TiB ("1023.99 KiB"),
// a rate below 1000 units ("999.99 KiB/s") and an ETA below an hour ("59:59").
// A wider one (rare, and only for a while) takes it from the bar.
constexpr std::size_t BYTES_WIDTH = 11;
constexpr std::size_t RATE_WIDTH = 12;
constexpr std::size_t ETA_WIDTH = 5;

}  // namespace

unsigned ProgressPercent(std::uint64_t acknowledged, std::uint64_t datagrams) noexcept {
    if (datagrams == 0) {
        return 0;
    }
    return static_cast<unsigned>(std::min<std::uint64_t>(acknowledged, datagrams) * 100 /
                                 datagrams);
}

std::uint64_t AcknowledgedBytes(std::uint64_t acknowledged, std::uint64_t length) noexcept {
    if (acknowledged <= 1) {
        return 0;
    }
    const std::uint64_t chunks = acknowledged - 1;
    return chunks >= (length + MAX_DATA_PAYLOAD - 1) / MAX_DATA_PAYLOAD ? length
                                                                        : chunks * MAX_DATA_PAYLOAD;
}

std::string FormatBytes(std::uint64_t bytes) {
    static constexpr std::array<const char*, 4> UNITS{"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < UNITS.size()) {
        value /= 1024.0;
        ++unit;
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.2f %s", value, UNITS[unit]);
    return text.data();
}

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) {
        return "--:--";
    }
    const auto total = static_cast<unsigned long long>(std::llround(seconds));
    const unsigned long long h = total / 3600;
    const unsigned long long m = total / 60 % 60;
    const unsigned long long s = total % 60;
    std::array<char, 32> text{};
    if (h > 0) {
        std::snprintf(text.data(), text.size(), "%llu:%02llu:%02llu", h, m, s);
    } else {
        std::snprintf(text.data(), text.size(), "%llu:%02llu", m, s);
    }
    return text.data();
}

std::string FormatProgressLine(const ProgressSnapshot& progress, const ProgressEstimate& estimate,
                               std::size_t width, std::string_view label) {
    const std::string percent = PercentText(progress);
    if (width < MIN_PROGRESS_LINE) {
        return Trimmed(percent, width);
    }
    const std::string total = FormatBytes(progress.bytes_total);
    std::string rate = "-- /s";
    if (estimate.bytes_per_second && !estimate.stalled) {
        rate = FormatBytes(static_cast<std::uint64_t>(*estimate.bytes_per_second)) + "/s";
    }
    const std::string eta = estimate.stalled
                                ? "stalled"
                                : FormatDuration(estimate.eta_seconds ? *estimate.eta_seconds : -1);
    // The parts after the percent, in the order they are given up, and their widest.
    const std::array<std::pair<std::string, std::size_t>, 3> parts = {{
        {"  " + Padded(FormatBytes(progress.bytes_done), BYTES_WIDTH) + " / " + total,
         2 + BYTES_WIDTH + 3 + total.size()},
        {"  " + Padded(rate, RATE_WIDTH), 2 + RATE_WIDTH},
        {"  ETA " + eta, 6 + ETA_WIDTH},
    }};
    for (std::size_t kept = parts.size() + 1; kept-- > 0;) {
        std::string tail = percent;
        std::size_t tail_width = percent.size();
        for (std::size_t i = 0; i < kept; ++i) {
            tail += parts[i].first;
            tail_width += parts[i].second;
        }
        if (auto line = WithBar(label, progress, tail, tail_width, width)) {
            return *line;
        }
    }
    // MIN_PROGRESS_LINE leaves room for a bar of MIN_BAR cells and the percent.
    return *WithBar({}, progress, percent, percent.size(), width);
}

std::string FormatDeviceLine(std::string_view address, const ProgressSnapshot& progress,
                             std::string_view state, std::size_t state_width, std::size_t width) {
    const std::string percent = PercentText(progress);
    const std::string head = std::string(address) + "  ";
    const std::string tail = percent + "  " + std::string(state);
    if (auto line = WithBar(head, progress, tail, percent.size() + 2 + state_width, width)) {
        return *line;
    }
    if (auto line = WithBar(head, progress, percent, percent.size(), width)) {
        return *line;
    }
    if (head.size() + percent.size() <= width) {
        return head + percent;
    }
    return Trimmed(percent, width);
}

}  // namespace korvane
