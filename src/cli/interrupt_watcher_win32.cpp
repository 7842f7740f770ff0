#include <windows.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>

#include "base/wake_event.hpp"
#include "cli/interrupt_watcher.hpp"

namespace korvane::cli {

namespace {

// The system ends the process once the handler of a close, log-off or
// shut-down returns, and at the latest after about 5 s: this is the time the
// command gets to report.
constexpr std::chrono::milliseconds CLOSE_GRACE{4500};

}  // namespace

struct InterruptWatcher::State {
    std::function<void()> on_signal;
    std::atomic<int> signal{0};
    WakeEvent done;  // set when the command is over
    bool installed = false;

    // The handler is a plain function: it finds the one watch through these.
    static inline std::mutex watch_mutex;
    static inline State* watch = nullptr;
    static BOOL WINAPI OnConsoleControl(DWORD event);
};

BOOL WINAPI InterruptWatcher::State::OnConsoleControl(DWORD event) {
    const std::lock_guard lock(watch_mutex);
    if (watch == nullptr) {
        return FALSE;  // the next handler (the default one ends the process)
    }
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    int none = 0;
    watch->signal.compare_exchange_strong(none, interrupt ? SIGINT : SIGTERM);
    watch->on_signal();
    if (!interrupt) {
        (void)watch->done.WaitFor(CLOSE_GRACE);
    }
    return TRUE;
}

InterruptWatcher::InterruptWatcher(std::function<void()> on_signal)
    : state_(std::make_unique<State>()) {
    state_->on_signal = std::move(on_signal);
    {
        const std::lock_guard lock(State::watch_mutex);
        State::watch = state_.get();
    }
    // A process started in a group of its own has Ctrl-C switched off: on again.
    (void)::SetConsoleCtrlHandler(nullptr, FALSE);
    state_->installed = ::SetConsoleCtrlHandler(State::OnConsoleControl, TRUE) != 0;
    if (!state_->installed) {
        std::cerr << "korvane-cli: cannot watch for Ctrl-C; it will end the program without a "
                     "result\n";
    }
}

InterruptWatcher::~InterruptWatcher() {
    if (state_->installed) {
        (void)::SetConsoleCtrlHandler(State::OnConsoleControl, FALSE);
    }
    state_->done.Set();  // before the lock: a handler that waits for it holds the lock
    const std::lock_guard lock(State::watch_mutex);
    State::watch = nullptr;
}

int InterruptWatcher::Signal() const noexcept {
    return state_->signal.load();
}

}  // namespace korvane::cli
