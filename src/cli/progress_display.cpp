#include "cli/progress_display.hpp"

#include <unistd.h>

namespace korvane::cli {
namespace {

constexpr std::size_t BAR_WIDTH = 30;

}  // namespace

ProgressDisplay::ProgressDisplay(ProgressMode mode, std::string label, std::FILE* out)
    : mode_(mode), label_(std::move(label)), out_(out) {}

ProgressMode ProgressDisplay::ModeFor(bool quiet) {
    if (quiet) {
        return ProgressMode::Quiet;
    }
    return ::isatty(STDERR_FILENO) == 1 ? ProgressMode::Line : ProgressMode::Plain;
}

std::chrono::milliseconds ProgressDisplay::Interval() const noexcept {
    switch (mode_) {
        case ProgressMode::Line:
            return std::chrono::milliseconds(100);
        case ProgressMode::Plain:
        case ProgressMode::Quiet:
            break;
    }
    return std::chrono::milliseconds(1000);
}

void ProgressDisplay::Show(const ProgressSnapshot& progress,
                           std::chrono::steady_clock::time_point now) {
    if (mode_ == ProgressMode::Quiet || (shown_ && now - last_shown_ < Interval())) {
        return;
    }
    last_shown_ = now;
    Write(progress);
}

void ProgressDisplay::Finish(const ProgressSnapshot& progress) {
    if (mode_ == ProgressMode::Quiet) {
        return;
    }
    Write(progress);
    if (mode_ == ProgressMode::Line) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
}

void ProgressDisplay::Write(const ProgressSnapshot& progress) {
    const std::string line = label_ + FormatProgressLine(progress, BAR_WIDTH);
    if (mode_ == ProgressMode::Line) {
        // Redraw in place; blank out what a longer previous line left behind.
        const std::size_t pad = last_width_ > line.size() ? last_width_ - line.size() : 0;
        std::fprintf(out_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
        last_width_ = line.size();
    } else {
        std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
    shown_ = true;
}

}  // namespace korvane::cli
