#include "link/ack_event.hpp"

namespace korvane {

void AckEvent::Set() {
    {
        const std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_one();
}

void AckEvent::Reset() {
    const std::lock_guard lock(mutex_);
    signalled_ = false;
}

void AckEvent::Cancel() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_.store(true);
    }
    changed_.notify_all();
}

bool AckEvent::IsCancelled() const {
    return cancelled_.load();
}

AckWait AckEvent::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const bool woken =
        changed_.wait_for(lock, timeout, [this] { return cancelled_.load() || signalled_; });
    if (cancelled_.load()) {
        return AckWait::Cancelled;
    }
    if (!woken) {
        return AckWait::TimedOut;
    }
    signalled_ = false;
    return AckWait::Acknowledged;
}

}  // namespace korvane
