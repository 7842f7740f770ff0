#include "frontend/progress_rate.hpp"

#include <algorithm>

namespace korvane {

void ProgressRate::Add(double seconds, std::uint64_t acknowledged, std::uint64_t bytes) {
    if (!samples_.empty() && acknowledged < samples_.back().acknowledged) {
        samples_.clear();
    }
    if (!samples_.empty() && acknowledged == samples_.back().acknowledged) {
        return;  // nothing moved: the time of the last change is what counts
    }
    samples_.push_back({.seconds = seconds, .acknowledged = acknowledged, .bytes = bytes});
    while (samples_.size() > 2 && samples_[1].seconds <= seconds - WINDOW_SECONDS) {
        samples_.pop_front();
    }
}

ProgressEstimate ProgressRate::Estimate(double now, std::uint64_t datagrams) const {
    ProgressEstimate estimate;
    if (samples_.size() < 2) {
        return estimate;
    }
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const double span = last.seconds - first.seconds;
    if (span <= 0) {
        return estimate;
    }
    const double silent = now - last.seconds;
    const std::uint64_t left = datagrams - std::min(datagrams, last.acknowledged);
    if (left > 0 && silent >= STALL_SECONDS) {
        estimate.stalled = true;
        return estimate;
    }
    const auto moved = static_cast<double>(last.acknowledged - first.acknowledged);
    estimate.bytes_per_second = static_cast<double>(last.bytes - first.bytes) / span;
    estimate.eta_seconds =
        std::max(0.0, static_cast<double>(left) * span / moved - std::max(0.0, silent));
    return estimate;
}

}  // namespace korvane
