#pragma once

#include <cstddef>
#include <memory>

namespace korvane::cli {

// The terminal on stderr, as far as progress output needs it. What the
// terminal itself reports, and the watch below, are the platform's
// (terminal_posix.cpp, terminal_win32.cpp).

struct TerminalSize {
    std::size_t columns = 80;
    std::size_t rows = 24;
};

// True when stderr is a terminal.
[[nodiscard]] bool StderrIsTerminal() noexcept;

// The size of the terminal on stderr: what the terminal reports; where it
// reports nothing (0), the COLUMNS and LINES variables; else 80 x 24.
[[nodiscard]] TerminalSize StderrTerminalSize() noexcept;

// What the terminal on stderr reports of its size; 0 where it reports nothing.
[[nodiscard]] TerminalSize ReportedStderrSize() noexcept;

// Notices that the terminal was resized. On POSIX (SIGWINCH) without a signal
// handler and without interrupting any thread: the signal is held back in
// every thread and collected by TakeResize(). Make it on the main thread
// before any other thread of the command (before the InterruptWatcher), so
// that every thread inherits the held-back signal; it lives for the command,
// on that thread, and lets the signal through again when it goes. On Windows,
// TakeResize compares the console's width with the one it saw last.
class ResizeWatch {
public:
    ResizeWatch();
    ~ResizeWatch();
    ResizeWatch(const ResizeWatch&) = delete;
    ResizeWatch& operator=(const ResizeWatch&) = delete;

    // True once for each resize (or run of resizes) since the last call.
    [[nodiscard]] bool TakeResize() noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace korvane::cli
