#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>

#include "link/notifications.hpp"

namespace korvane {

// A notification as it reaches the dialog, with the number of the download
// job that was current when it was posted.
struct TaggedNotification {
    Notification notification;
    std::uint64_t job = 0;
};

// Where the core's threads post to the dialog. Post() queues a call of the
// handler on the GUI thread's event loop (Qt keeps posting order), so a
// handler that opens a message box, and with it a nested event loop, keeps
// the order too. Owned by the dialog, made and destroyed on the GUI thread;
// Post() from any thread while it lives. Posts not yet handled die with it.
class NotificationInbox final : public NotificationSink {
public:
    explicit NotificationInbox(std::function<void(const TaggedNotification&)> handler)
        : handler_(std::move(handler)) {}

    void Post(const Notification& notification) noexcept override;

    // Starts a new job number; posts made from now on carry it. Call once the
    // previous job has been joined, so none of its posts is still under way.
    std::uint64_t NextJob() noexcept { return ++job_; }

    // Hands everything posted so far to the handler now (GUI thread).
    void Deliver();

private:
    std::function<void(const TaggedNotification&)> handler_;
    QObject receiver_;  // lives on the GUI thread; the queued calls go to it
    std::atomic<std::uint64_t> job_{0};
};

}  // namespace korvane
