#include <windows.h>

#include <algorithm>
#include <array>

#include "base/wake_event.hpp"

namespace korvane {
namespace {

// The limit as WaitFor...Object(s) takes it: INFINITE for NO_TIME_LIMIT.
DWORD Timeout(std::chrono::milliseconds limit) {
    if (limit.count() < 0) {
        return INFINITE;
    }
    return static_cast<DWORD>(
        std::min<std::chrono::milliseconds::rep>(limit.count(), INFINITE - 1));
}

}  // namespace

// A manual-reset event: it stays signalled for every waiter until Clear().
WakeEvent::WakeEvent() noexcept : handle_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WakeEvent::~WakeEvent() {
    if (handle_ != nullptr) {
        ::CloseHandle(handle_);
    }
}

bool WakeEvent::Valid() const noexcept {
    return handle_ != nullptr;
}

void WakeEvent::Set() noexcept {
    ::SetEvent(handle_);
}

void WakeEvent::Clear() noexcept {
    ::ResetEvent(handle_);
}

bool WakeEvent::WaitFor(std::chrono::milliseconds limit) const noexcept {
    return ::WaitForSingleObject(handle_, Timeout(limit)) == WAIT_OBJECT_0;
}

WaitResult WaitForEither(WakeEvent::NativeHandle other, const WakeEvent& wake,
                         std::chrono::milliseconds limit) noexcept {
    // The wake-up first: with both signalled the lowest index is reported,
    // so a reader told to stop stops even while its input keeps coming.
    const std::array<HANDLE, 2> handles{wake.Handle(), other};
    const DWORD n = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                             FALSE, Timeout(limit));
    switch (n) {
        case WAIT_OBJECT_0:
            return WaitResult::Woken;
        case WAIT_OBJECT_0 + 1:
            return WaitResult::Ready;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:
            return WaitResult::Failed;
    }
}

}  // namespace korvane
