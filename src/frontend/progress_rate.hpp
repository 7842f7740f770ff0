#pragma once

#include <cstdint>
#include <deque>

#include "frontend/progress_text.hpp"

namespace korvane {

// Rate and time left of a download, from the acknowledgements of the last
// few seconds rather than the whole run, so that a slow start or a burst long
// ago does not colour them. Owned by one progress display, one thread; times
// are seconds from any fixed start.
//
// The ETA is the one worked out at the latest acknowledgement, counted down
// since then and never below zero: it cannot grow while a device is silent.
// Once no acknowledgement has come for STALL_SECONDS (about a hundred of the
// usual gaps) the estimate says "stalled" instead: the device may refuse or
// time out, and no figure would be honest.
class ProgressRate {
public:
    static constexpr double WINDOW_SECONDS = 5;
    static constexpr double STALL_SECONDS = 1;

    // Notes where the download stood at `seconds`. A count lower than the
    // last one starts over (a retry downloads again from the header).
    void Add(double seconds, std::uint64_t acknowledged, std::uint64_t bytes);
    // The estimate at `now` for a download of `datagrams` datagrams.
    [[nodiscard]] ProgressEstimate Estimate(double now, std::uint64_t datagrams) const;

private:
    struct Sample {
        double seconds = 0;
        std::uint64_t acknowledged = 0;
        std::uint64_t bytes = 0;
    };
    // The first sample at or before the window's start, then each change of
    // the count since, oldest first.
    std::deque<Sample> samples_;
};

}  // namespace korvane
