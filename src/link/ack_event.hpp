#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace korvane {

enum class AckWait {
    Acknowledged,  // a Set() released this wait
    TimedOut,      // nothing arrived in time
    Cancelled,     // the operator asked to stop (window closed, Ctrl-C)
};

// The auto-reset event a sender waits on for the device's acknowledgement.
// Owned by the front end (one per dialog, one per device of a CLI fleet) and
// shared by every thread of the exchange: the receive thread sets it, the
// sending thread resets and waits, the front end cancels. Thread-safe.
//
// Cancel() is sticky for the event's life: a close request that arrives between
// two waits is not lost, and it is never mistaken for an acknowledgement.
class AckEvent {
public:
    // Releases one wait (now or the next one); further sets before it collapse.
    void Set();
    // Forgets a pending Set() (sent before every request so that only a reply
    // to that request can release its wait).
    void Reset();
    // Wakes every waiter at once; every wait from then on returns Cancelled.
    void Cancel();
    [[nodiscard]] bool IsCancelled() const;

    // Waits at most `timeout`; a successful wait consumes the pending Set().
    [[nodiscard]] AckWait WaitFor(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
    // Written under mutex_ (a waiter's predicate cannot miss it), read without
    // it by IsCancelled: a sender asks once or twice per datagram.
    std::atomic<bool> cancelled_{false};
};

}  // namespace korvane
