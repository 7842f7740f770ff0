#include <windows.h>

#include "cli/terminal.hpp"

namespace korvane::cli {
namespace {

// The console's visible window (not its scroll-back buffer), or nothing.
bool ConsoleWindow(SMALL_RECT& window) noexcept {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) == 0) {
        return false;
    }
    window = info.srWindow;
    return true;
}

}  // namespace

bool StderrIsTerminal() noexcept {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

TerminalSize ReportedStderrSize() noexcept {
    SMALL_RECT window{};
    if (!ConsoleWindow(window)) {
        return {.columns = 0, .rows = 0};
    }
    return {.columns = static_cast<std::size_t>(window.Right - window.Left + 1),
            .rows = static_cast<std::size_t>(window.Bottom - window.Top + 1)};
}

struct ResizeWatch::State {
    std::size_t columns = 0;
};

ResizeWatch::ResizeWatch() : state_(std::make_unique<State>()) {
    state_->columns = ReportedStderrSize().columns;
}

ResizeWatch::~ResizeWatch() = default;

bool ResizeWatch::TakeResize() noexcept {
    const std::size_t columns = ReportedStderrSize().columns;
    if (columns == state_->columns) {
        return false;
    }
    state_->columns = columns;
    return true;
}

}  // namespace korvane::cli
