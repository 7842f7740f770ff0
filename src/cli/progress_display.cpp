#include "cli/progress_display.hpp"

#include <algorithm>

namespace korvane::cli {
namespace {

// Erases from the cursor to the end of its line.
constexpr const char* ERASE_LINE = "\x1b[K";

ProgressSnapshot Sum(std::span<const DeviceProgress> devices) {
    ProgressSnapshot sum;
    for (const DeviceProgress& device : devices) {
        sum.acknowledged += device.progress.acknowledged;
        sum.datagrams += device.progress.datagrams;
        sum.bytes_done += device.progress.bytes_done;
        sum.bytes_total += device.progress.bytes_total;
    }
    return sum;
}

}  // namespace

ProgressDisplay::ProgressDisplay(ProgressMode mode, std::size_t devices, ResizeWatch* resizes,
                                 std::FILE* out)
    : mode_(mode), resizes_(resizes), out_(out), clocks_(devices) {
    if (mode_ == ProgressMode::Line) {
        size_ = StderrTerminalSize();
        per_device_ = PerDevice(devices);
    }
}

ProgressMode ProgressDisplay::ModeFor(bool quiet) {
    if (quiet) {
        return ProgressMode::Quiet;
    }
    return StderrIsTerminal() ? ProgressMode::Line : ProgressMode::Plain;
}

bool ProgressDisplay::PerDevice(std::size_t devices) const noexcept {
    // Two rows stay free: the line the cursor waits on and the one above the block.
    return devices > 1 && devices + 2 <= size_.rows;
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

void ProgressDisplay::Follow(std::span<const DeviceProgress> devices, double seconds) {
    const ProgressSnapshot sum = Sum(devices);
    rate_.Add(seconds, sum.acknowledged, sum.bytes_done);
    for (std::size_t i = 0; i < devices.size() && i < clocks_.size(); ++i) {
        if (devices[i].progress.acknowledged != clocks_[i].acknowledged) {
            clocks_[i] = {.acknowledged = devices[i].progress.acknowledged, .since = seconds};
        }
    }
}

void ProgressDisplay::Show(std::span<const DeviceProgress> devices,
                           std::chrono::steady_clock::time_point now) {
    if (mode_ == ProgressMode::Quiet) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    Follow(devices, seconds);
    if (shown_ && now - last_shown_ < Interval()) {
        return;
    }
    last_shown_ = now;
    Write(devices, seconds);
}

void ProgressDisplay::Finish(std::span<const DeviceProgress> devices,
                             std::chrono::steady_clock::time_point now) {
    if (mode_ == ProgressMode::Quiet) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    Follow(devices, seconds);
    Write(devices, seconds);
    if (line_open_) {
        std::fputc('\n', out_);
        line_open_ = false;
    }
    std::fflush(out_);
}

void ProgressDisplay::Note(std::string_view text) {
    if (mode_ == ProgressMode::Quiet) {
        return;
    }
    if (mode_ == ProgressMode::Line) {
        // Over the redrawn lines; the next Show draws them again below.
        if (block_lines_ > 0) {
            std::fprintf(out_, "\x1b[%zuA", block_lines_);
        }
        std::fprintf(out_, "\r%.*s%s\n\x1b[J", static_cast<int>(text.size()), text.data(),
                     ERASE_LINE);
        line_open_ = false;
        block_lines_ = 0;
        shown_ = false;
    } else {
        std::fprintf(out_, "%.*s\n", static_cast<int>(text.size()), text.data());
    }
    std::fflush(out_);
}

std::string ProgressDisplay::StateOf(const DeviceProgress& device, std::size_t index,
                                     double seconds) const {
    std::string state;
    switch (device.phase) {
        case DevicePhase::Succeeded:
            return "succeeded";
        case DevicePhase::Failed:
            return "failed";
        case DevicePhase::WaitingToRetry:
            return "waiting to retry";
        case DevicePhase::Sending:
            state = index < clocks_.size() &&
                            seconds - clocks_[index].since >= ProgressRate::STALL_SECONDS
                        ? "stalled"
                        : "sending";
            break;
    }
    if (device.attempt > 1) {
        state += ", attempt " + std::to_string(device.attempt);
    }
    return state;
}

void ProgressDisplay::Write(std::span<const DeviceProgress> devices, double seconds) {
    shown_ = true;
    const ProgressSnapshot sum = Sum(devices);
    const ProgressEstimate estimate = rate_.Estimate(seconds, sum.datagrams);
    const std::string label =
        devices.size() > 1 ? std::to_string(devices.size()) + " devices " : std::string();
    if (mode_ == ProgressMode::Plain) {
        const std::string line = FormatProgressLine(sum, estimate, UNLIMITED_WIDTH, label);
        std::fprintf(out_, "%s\n", line.c_str());
        std::fflush(out_);
        return;
    }
    if (resizes_ != nullptr && resizes_->TakeResize()) {
        // Start again below what was drawn: a terminal that rewrapped the old
        // lines to the new width would leave pieces of them behind a redraw.
        size_ = StderrTerminalSize();
        per_device_ = per_device_ && PerDevice(devices.size());
        if (line_open_) {
            std::fputc('\n', out_);
            line_open_ = false;
        }
        block_lines_ = 0;
    }
    if (!per_device_) {
        const std::string line = FormatProgressLine(sum, estimate, size_.columns, label);
        std::fprintf(out_, "\r%s%s", line.c_str(), ERASE_LINE);
        line_open_ = true;
        std::fflush(out_);
        return;
    }
    if (address_width_ == 0) {
        for (const DeviceProgress& device : devices) {
            address_width_ = std::max(address_width_, device.address.size());
        }
    }
    if (block_lines_ > 0) {
        std::fprintf(out_, "\x1b[%zuA", block_lines_);
    }
    std::vector<std::string> states;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        states.push_back(StateOf(devices[i], i, seconds));
        // Only ever wider, so that the bars move seldom.
        state_width_ = std::max(state_width_, states.back().size());
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        std::string address(devices[i].address);
        address.resize(std::max(address.size(), address_width_), ' ');
        const std::string line =
            FormatDeviceLine(address, devices[i].progress, states[i], state_width_, size_.columns);
        std::fprintf(out_, "\r%s%s\n", line.c_str(), ERASE_LINE);
    }
    block_lines_ = devices.size();
    std::fflush(out_);
}

}  // namespace korvane::cli
