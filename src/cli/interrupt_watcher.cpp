#include "cli/interrupt_watcher.hpp"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace korvane::cli {

InterruptWatcher::InterruptWatcher(std::function<void()> on_interrupt)
    : on_interrupt_(std::move(on_interrupt)) {
    sigset_t interrupt{};
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    if (::pthread_sigmask(SIG_BLOCK, &interrupt, &old_mask_) != 0) {
        return;
    }
    mask_changed_ = true;
    signal_fd_.Reset(::signalfd(-1, &interrupt, SFD_CLOEXEC));
    stop_fd_.Reset(::eventfd(0, EFD_CLOEXEC));
    if (!signal_fd_ || !stop_fd_) {
        return;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
    }
}

InterruptWatcher::~InterruptWatcher() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        (void)!::write(stop_fd_.Get(), &one, sizeof one);
        thread_.join();
    }
    if (mask_changed_) {
        ::pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    }
}

void InterruptWatcher::Run() {
    for (;;) {
        std::array<pollfd, 2> fds{{{.fd = signal_fd_.Get(), .events = POLLIN, .revents = 0},
                                   {.fd = stop_fd_.Get(), .events = POLLIN, .revents = 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents != 0) {
            signalfd_siginfo info{};
            if (::read(signal_fd_.Get(), &info, sizeof info) == sizeof info) {
                interrupted_.store(true);
                on_interrupt_();
            }
        }
    }
}

}  // namespace korvane::cli
