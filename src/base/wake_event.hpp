#pragma once

#include <chrono>

namespace korvane {

// A wake-up one thread raises so that another stops waiting: alone, or
// together with one thing the waiter also watches (a socket, a pipe, a signal
// source). Once set it stays set until Clear(), so a Set() that comes before
// the wait is not lost and wakes every waiter. Owns its kernel object (an
// eventfd on Linux) from construction to destruction. Set(), Clear() and the
// waits are safe from any thread.
class WakeEvent {
public:
#ifdef _WIN32
    using NativeHandle = void*;  // a waitable HANDLE (an event, a socket's WSAEVENT)
#else
    using NativeHandle = int;  // a file descriptor that poll can watch
#endif

    WakeEvent() noexcept;
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // False when the kernel object could not be made (errno says why, right
    // after construction); such an event never wakes anyone.
    [[nodiscard]] bool Valid() const noexcept;

    void Set() noexcept;
    void Clear() noexcept;

    // Waits until the event is set, at most `limit`; true when it is.
    [[nodiscard]] bool WaitFor(std::chrono::milliseconds limit) const noexcept;

    [[nodiscard]] NativeHandle Handle() const noexcept {
        return handle_;
    }

private:
    NativeHandle handle_;
};

// For WaitForEither: no time limit.
inline constexpr std::chrono::milliseconds NO_TIME_LIMIT{-1};

enum class WaitResult {
    Ready,     // `other` has something to read (data, end-of-data or an error)
    Woken,     // `wake` is set (whether or not `other` is ready too)
    TimedOut,  // neither, within the limit
    Failed,    // the wait itself failed
};

// Waits until `other` is ready or `wake` is set, at most `limit`
// (NO_TIME_LIMIT: as long as it takes). An interrupted wait is resumed.
[[nodiscard]] WaitResult WaitForEither(WakeEvent::NativeHandle other, const WakeEvent& wake,
                                       std::chrono::milliseconds limit) noexcept;

}  // namespace korvane
