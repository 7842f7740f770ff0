#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "cli/terminal.hpp"

namespace korvane::cli {
namespace {

// A positive count from the environment, 0 when unset or not a plain number.
std::size_t FromEnvironment(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return *end == '\0' && std::string_view(text).find('-') == std::string_view::npos ? value : 0;
}

}  // namespace

bool StderrIsTerminal() noexcept {
    return ::isatty(STDERR_FILENO) == 1;
}

TerminalSize StderrTerminalSize() noexcept {
    winsize window{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &window) != 0) {
        window = {};
    }
    TerminalSize size;
    if (window.ws_col > 0) {
        size.columns = window.ws_col;
    } else if (const std::size_t columns = FromEnvironment("COLUMNS"); columns > 0) {
        size.columns = columns;
    }
    if (window.ws_row > 0) {
        size.rows = window.ws_row;
    } else if (const std::size_t rows = FromEnvironment("LINES"); rows > 0) {
        size.rows = rows;
    }
    return size;
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
