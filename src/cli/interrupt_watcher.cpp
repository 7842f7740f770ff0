#include "cli/interrupt_watcher.hpp"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <iostream>
#include <system_error>

namespace korvane::cli {

InterruptWatcher::InterruptWatcher(std::function<void()> on_signal)
    : on_signal_(std::move(on_signal)) {
    sigset_t watched{};
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &watched, &old_mask_) == 0) {
        mask_changed_ = true;
        signal_fd_.Reset(::signalfd(-1, &watched, SFD_CLOEXEC));
        if (signal_fd_ && stop_.Valid()) {
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
            }
        }
    }
    if (!thread_.joinable()) {
        // Blocked signals nobody reads would make the program deaf to Ctrl-C.
        RestoreMask();
        std::cerr << "korvane-cli: cannot watch for Ctrl-C; it will end the program without a "
                     "result\n";
    }
}

InterruptWatcher::~InterruptWatcher() {
    if (thread_.joinable()) {
        stop_.Set();
        thread_.join();
    }
    RestoreMask();
}

void InterruptWatcher::RestoreMask() noexcept {
    if (mask_changed_) {
        ::pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
        mask_changed_ = false;
    }
}

void InterruptWatcher::Run() noexcept {
    while (WaitForEither(signal_fd_.Get(), stop_, NO_TIME_LIMIT) == WaitResult::Ready) {
        signalfd_siginfo info{};
        if (::read(signal_fd_.Get(), &info, sizeof info) == sizeof info) {
            int none = 0;
            signal_.compare_exchange_strong(none, static_cast<int>(info.ssi_signo));
            on_signal_();
        }
    }
}

}  // namespace korvane::cli
