#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

#include "base/unique_fd.hpp"

namespace korvane::cli {

// Turns Ctrl-C (SIGINT) into a call of `on_interrupt` on a thread of its own,
// so that nothing but the kernel runs in signal context. Blocks SIGINT in the
// calling thread, which every thread made later inherits, and reads it from a
// signalfd. Make it before any other thread of the process; it lives for the
// command and restores the signal mask when it goes away (joining its thread).
class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> on_interrupt);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // False when the watch could not be set up (Ctrl-C then ends the process).
    [[nodiscard]] bool Active() const noexcept { return thread_.joinable(); }
    [[nodiscard]] bool Interrupted() const noexcept { return interrupted_.load(); }

private:
    void Run();

    std::function<void()> on_interrupt_;
    sigset_t old_mask_{};
    bool mask_changed_ = false;
    UniqueFd signal_fd_;
    UniqueFd stop_fd_;
    std::atomic<bool> interrupted_{false};
    std::thread thread_;
};

}  // namespace korvane::cli
