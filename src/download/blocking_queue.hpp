#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace korvane {

// A first-in first-out hand-over between threads: any thread pushes (never
// waits for the taker), one thread takes, waiting for the next item at most a
// given time. Items keep the order in which they were pushed. Lives as long as
// its owner; thread-safe.
template <typename T>
class BlockingQueue {
public:
    void Push(T item) {
        {
            const std::lock_guard lock(mutex_);
            items_.push_back(std::move(item));
        }
        arrived_.notify_one();
    }

    // The oldest item, or nothing when none arrives before `deadline`.
    [[nodiscard]] std::optional<T> PopUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_until(lock, deadline, [this] { return !items_.empty(); })) {
            return std::nullopt;
        }
        T item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    [[nodiscard]] std::optional<T> PopFor(std::chrono::milliseconds timeout) {
        return PopUntil(std::chrono::steady_clock::now() + timeout);
    }

    [[nodiscard]] std::optional<T> TryPop() { return PopUntil(std::chrono::steady_clock::now()); }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<T> items_;
};

}  // namespace korvane
