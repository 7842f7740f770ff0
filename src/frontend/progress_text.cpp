#include "frontend/progress_text.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "link/protocol.hpp"

namespace korvane {

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

std::string FormatProgressLine(const ProgressSnapshot& progress, std::size_t bar_width) {
    const std::uint64_t acknowledged = std::min(progress.acknowledged, progress.datagrams);
    const std::size_t filled =
        progress.datagrams == 0
            ? 0
            : static_cast<std::size_t>(acknowledged * bar_width / progress.datagrams);
    std::string line = "[";
    line.append(filled, '#');
    line.append(bar_width - filled, '-');
    line += "] ";

    std::array<char, 8> percent{};
    std::snprintf(percent.data(), percent.size(), "%3u%%",
                  ProgressPercent(acknowledged, progress.datagrams));
    line += percent.data();
    line += "  " + FormatBytes(progress.bytes_done) + " / " + FormatBytes(progress.bytes_total);

    const bool measured = acknowledged > 0 && progress.elapsed_seconds > 0;
    if (measured) {
        const auto rate = static_cast<std::uint64_t>(static_cast<double>(progress.bytes_done) /
                                                     progress.elapsed_seconds);
        const double per_datagram = progress.elapsed_seconds / static_cast<double>(acknowledged);
        const double eta = per_datagram * static_cast<double>(progress.datagrams - acknowledged);
        line += "  " + FormatBytes(rate) + "/s  ETA " + FormatDuration(eta);
    } else {
        line += "  -- /s  ETA --:--";
    }
    return line;
}

}  // namespace korvane
