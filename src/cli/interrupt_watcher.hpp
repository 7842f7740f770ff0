#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

#include "base/unique_fd.hpp"
#include "base/wake_event.hpp"

namespace korvane::cli {

// Turns SIGINT (Ctrl-C) and SIGTERM into a call of `on_signal` on a thread of
// its own, so that nothing but the kernel runs in signal context, and records
// the first of them. Blocks both signals in the calling thread, which every
// thread made later inherits, and reads them from a signalfd. Make it on the
// main thread before any other thread of the process; it lives for the
// command and restores the signal mask when it goes away (joining its thread).
//
// When the watch cannot be set up, the mask is restored at once (the signals
// then end the program as usual) and one line on stderr says so.
class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> on_signal);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // The first signal that arrived (SIGINT or SIGTERM); 0 while none has.
    [[nodiscard]] int Signal() const noexcept { return signal_.load(); }

private:
    void Run() noexcept;
    void RestoreMask() noexcept;

    std::function<void()> on_signal_;
    sigset_t old_mask_{};
    bool mask_changed_ = false;
    UniqueFd signal_fd_;
    WakeEvent stop_;  // ends the watch when the command is done
    std::atomic<int> signal_{0};
    std::thread thread_;
};

// The exit code of a command that `signal_number` cut short: 128 + the
// signal, as a shell reports a program the signal ended (130 for SIGINT,
// 143 for SIGTERM).
[[nodiscard]] constexpr int ExitCodeAfterSignal(int signal_number) noexcept {
    return 128 + signal_number;
}

}  // namespace korvane::cli
