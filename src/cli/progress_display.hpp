#pragma once

#include <chrono>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/terminal.hpp"
#include "frontend/progress_rate.hpp"
#include "frontend/progress_text.hpp"

namespace korvane::cli {

enum class ProgressMode {
    Quiet,  // nothing
    Line,   // a terminal: redrawn in place, up to ten times a second
    Plain,  // a file or pipe: plain lines, at most one a second
};

// Where one device of the download stands, as the display shows it.
enum class DevicePhase { Sending, WaitingToRetry, Succeeded, Failed };
struct DeviceProgress {
    std::string_view address;
    ProgressSnapshot progress;
    DevicePhase phase = DevicePhase::Sending;
    unsigned attempt = 1;
};

// Shows the progress of a download on stderr (or `out`) in one of the modes
// above. On a terminal a fleet that fits (at most rows - 2 devices) gets one
// line per device, redrawn in place; otherwise one line sums up every device.
// Lines never exceed the terminal's width and follow its resizes (seen
// through `resizes`, which must outlive the display). Used on the command's
// main thread only, for the command's duration.
class ProgressDisplay {
public:
    ProgressDisplay(ProgressMode mode, std::size_t devices, ResizeWatch* resizes,
                    std::FILE* out = stderr);

    // The mode for stderr: Line on a terminal, Plain otherwise, Quiet if asked.
    [[nodiscard]] static ProgressMode ModeFor(bool quiet);

    // How long the caller may wait before the next Show() is worth making.
    [[nodiscard]] std::chrono::milliseconds Interval() const noexcept;
    // Shows `devices` unless the last drawing is more recent than the mode allows.
    void Show(std::span<const DeviceProgress> devices, std::chrono::steady_clock::time_point now);
    // Shows the final state and ends the redrawn lines.
    void Finish(std::span<const DeviceProgress> devices, std::chrono::steady_clock::time_point now);
    // A line of its own (a retry, say), above the progress; nothing when Quiet.
    void Note(std::string_view text);

private:
    // When each device's count last moved, for its "stalled" state.
    struct DeviceClock {
        std::uint64_t acknowledged = 0;
        double since = 0;
    };

    void Follow(std::span<const DeviceProgress> devices, double seconds);
    void Write(std::span<const DeviceProgress> devices, double seconds);
    [[nodiscard]] std::string StateOf(const DeviceProgress& device, std::size_t index,
                                      double seconds) const;
    [[nodiscard]] bool PerDevice(std::size_t devices) const noexcept;

    ProgressMode mode_;
    ResizeWatch* resizes_;
    std::FILE* out_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    TerminalSize size_;
    bool per_device_ = false;
    std::size_t address_width_ = 0;
    // Room for the states; "succeeded" is the longest a run without retries shows.
    std::size_t state_width_ = std::string_view("succeeded").size();
    ProgressRate rate_;
    std::vector<DeviceClock> clocks_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_shown_{};
    bool line_open_ = false;       // a summed-up line drawn without its line feed
    std::size_t block_lines_ = 0;  // device lines drawn; the cursor is on the line below
};

}  // namespace korvane::cli
