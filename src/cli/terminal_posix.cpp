#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "cli/terminal.hpp"

namespace korvane::cli {

bool StderrIsTerminal() noexcept {
    return ::isatty(STDERR_FILENO) == 1;
}

TerminalSize ReportedStderrSize() noexcept {
    winsize window{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &window) != 0) {
        return {.columns = 0, .rows = 0};
    }
    return {.columns = window.ws_col, .rows = window.ws_row};
}

struct ResizeWatch::State {
    sigset_t watched{};
    sigset_t old_mask{};
    bool blocked = false;
};

ResizeWatch::ResizeWatch() : state_(std::make_unique<State>()) {
    sigemptyset(&state_->watched);
    sigaddset(&state_->watched, SIGWINCH);
    state_->blocked = ::pthread_sigmask(SIG_BLOCK, &state_->watched, &state_->old_mask) == 0;
}

ResizeWatch::~ResizeWatch() {
    if (state_->blocked) {
        ::pthread_sigmask(SIG_SETMASK, &state_->old_mask, nullptr);
    }
}

bool ResizeWatch::TakeResize() noexcept {
    if (!state_->blocked) {
        return false;
    }
    bool resized = false;
    const timespec now{};
    while (::sigtimedwait(&state_->watched, nullptr, &now) == SIGWINCH) {
        resized = true;
    }
    return resized;
}

}  // namespace korvane::cli
