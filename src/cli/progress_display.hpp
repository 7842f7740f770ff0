#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "frontend/progress_text.hpp"

namespace korvane::cli {

enum class ProgressMode {
    Quiet,  // nothing
    Line,   // a terminal: one line redrawn in place, up to ten times a second
    Plain,  // a file or pipe: plain lines, at most one a second
};

// Shows the progress of a download on stderr (or `out`) in one of the modes
// above. Used on the command's main thread only, for the command's duration.
class ProgressDisplay {
public:
    ProgressDisplay(ProgressMode mode, std::string label, std::FILE* out = stderr);

    // The mode for stderr: Line on a terminal, Plain otherwise, Quiet if asked.
    [[nodiscard]] static ProgressMode ModeFor(bool quiet);

    // How long the caller may wait before the next Show() is worth making.
    [[nodiscard]] std::chrono::milliseconds Interval() const noexcept;
    // Shows `progress` unless the last line is more recent than the mode allows.
    void Show(const ProgressSnapshot& progress, std::chrono::steady_clock::time_point now);
    // Shows the final state and ends the redrawn line.
    void Finish(const ProgressSnapshot& progress);

private:
    void Write(const ProgressSnapshot& progress);

    ProgressMode mode_;
    std::string label_;
    std::FILE* out_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_shown_{};
    std::size_t last_width_ = 0;
};

}  // namespace korvane::cli
