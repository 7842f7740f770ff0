#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <system_error>
#include <thread>

#include "base/unique_fd.hpp"
#include "base/wake_event.hpp"
#include "cli/interrupt_watcher.hpp"

namespace korvane::cli {

struct InterruptWatcher::State {
    std::function<void()> on_signal;
    sigset_t old_mask{};
    bool mask_changed = false;
    UniqueFd signal_fd;
    WakeEvent stop;  // ends the watch when the command is done
    std::atomic<int> signal{0};
    std::thread thread;

    void Run() noexcept {
        while (WaitForEither(signal_fd.Get(), stop, NO_TIME_LIMIT) == WaitResult::Ready) {
            signalfd_siginfo info{};
            if (::read(signal_fd.Get(), &info, sizeof info) == sizeof info) {
                int none = 0;
                signal.compare_exchange_strong(none, static_cast<int>(info.ssi_signo));
                on_signal();
            }
        }
    }

    void RestoreMask() noexcept {
        if (mask_changed) {
            ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
            mask_changed = false;
        }
    }
};

InterruptWatcher::InterruptWatcher(std::function<void()> on_signal)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.on_signal = std::move(on_signal);
    sigset_t watched{};
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &watched, &s.old_mask) == 0) {
        s.mask_changed = true;
        s.signal_fd.Reset(::signalfd(-1, &watched, SFD_CLOEXEC));
        if (s.signal_fd && s.stop.Valid()) {
            try {
                s.thread = std::thread([&s] { s.Run(); });
            } catch (const std::system_error&) {
            }
        }
    }
    if (!s.thread.joinable()) {
        // Blocked signals nobody reads would make the program deaf to Ctrl-C.
        s.RestoreMask();
        std::cerr << "korvane-cli: cannot watch for Ctrl-C; it will end the program without a "
                     "result\n";
    }
}

InterruptWatcher::~InterruptWatcher() {
    if (state_->thread.joinable()) {
        state_->stop.Set();
        state_->thread.join();
    }
    state_->RestoreMask();
}

int InterruptWatcher::Signal() const noexcept {
    return state_->signal.load();
}

}  // namespace korvane::cli
