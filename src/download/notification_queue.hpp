#pragma once

#include "download/blocking_queue.hpp"
#include "link/notifications.hpp"

namespace korvane {

// A NotificationSink for front ends without an event loop of their own (the
// CLI, tests): posts land in a queue that the front end's thread takes from.
// Owned by the front end; must outlive every DeviceLink and job posting to it.
class NotificationQueue final : public NotificationSink {
public:
    // A post that cannot be queued (no memory) ends the process: losing it
    // silently would leave the front end waiting for a job's result forever.
    void Post(const Notification& notification) noexcept override { queue_.Push(notification); }

    [[nodiscard]] std::optional<Notification> PopFor(std::chrono::milliseconds timeout) {
        return queue_.PopFor(timeout);
    }
    [[nodiscard]] std::optional<Notification> PopUntil(
        std::chrono::steady_clock::time_point deadline) {
        return queue_.PopUntil(deadline);
    }
    [[nodiscard]] std::optional<Notification> TryPop() { return queue_.TryPop(); }

private:
    BlockingQueue<Notification> queue_;
};

}  // namespace korvane
