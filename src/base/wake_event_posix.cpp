#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <span>

#include "base/wake_event.hpp"

namespace korvane {
namespace {

// poll, resumed after a signal with what is left of `limit`: > 0 ready,
// 0 timed out, < 0 failed.
int PollResuming(std::span<pollfd> fds, std::chrono::milliseconds limit) {
    using std::chrono::milliseconds, std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + limit;
    for (milliseconds left = limit;;
         left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now())) {
        const int timeout =
            limit.count() < 0
                ? -1
                : static_cast<int>(std::clamp<milliseconds::rep>(left.count(), 0, INT_MAX));
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n >= 0 || errno != EINTR) {
            return n;
        }
    }
}

}  // namespace

WakeEvent::WakeEvent() noexcept : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
    if (handle_ >= 0) {
        ::close(handle_);
    }
}

bool WakeEvent::Valid() const noexcept {
    return handle_ >= 0;
}

void WakeEvent::Set() noexcept {
    const std::uint64_t one = 1;
    (void)!::write(handle_, &one, sizeof one);
}

void WakeEvent::Clear() noexcept {
    std::uint64_t count = 0;
    (void)!::read(handle_, &count, sizeof count);
}

bool WakeEvent::WaitFor(std::chrono::milliseconds limit) const noexcept {
    std::array<pollfd, 1> fds{{{.fd = handle_, .events = POLLIN, .revents = 0}}};
    return PollResuming(fds, limit) > 0 && fds[0].revents != 0;
}

WaitResult WaitForEither(WakeEvent::NativeHandle other, const WakeEvent& wake,
                         std::chrono::milliseconds limit) noexcept {
    std::array<pollfd, 2> fds{{{.fd = other, .events = POLLIN, .revents = 0},
                               {.fd = wake.Handle(), .events = POLLIN, .revents = 0}}};
    const int n = PollResuming(fds, limit);
    if (n < 0) {
        return WaitResult::Failed;
    }
    if (fds[1].revents != 0) {
        return WaitResult::Woken;
    }
    return fds[0].revents != 0 ? WaitResult::Ready : WaitResult::TimedOut;
}

}  // namespace korvane
