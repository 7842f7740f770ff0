#pragma once

#include <QSocketNotifier>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "base/wake_event.hpp"
#include "link/notifications.hpp"

namespace korvane {

// A notification as it reaches the dialog, with the number of the download
// job that was current when it was posted.
struct TaggedNotification {
    Notification notification;
    std::uint64_t job = 0;
};

// Where the core's threads post to the dialog. Post() queues the notification
// under a lock and wakes the GUI thread through a WakeEvent; on the GUI thread
// the handler then gets each notification in posting order, one at a time, so
// a handler that opens a message box (and with it a nested event loop) keeps
// the order too. (Not Qt's queued calls: ThreadSanitizer cannot see their
// hand-over, Qt being uninstrumented, and would report every post.) Owned by
// the dialog, made and destroyed on the GUI thread; Post() from any thread
// while it lives.
class NotificationInbox final : public NotificationSink {
public:
    explicit NotificationInbox(std::function<void(const TaggedNotification&)> handler);
    ~NotificationInbox() override;
    NotificationInbox(const NotificationInbox&) = delete;
    NotificationInbox& operator=(const NotificationInbox&) = delete;

    void Post(const Notification& notification) noexcept override;

    // Starts a new job number; posts made from now on carry it. Call once the
    // previous job has been joined, so none of its posts is still under way.
    std::uint64_t NextJob() noexcept { return ++job_; }

    // Hands everything posted so far to the handler now (GUI thread).
    void Deliver();

private:
    std::function<void(const TaggedNotification&)> handler_;
    WakeEvent wake_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::atomic<std::uint64_t> job_{0};
    std::mutex mutex_;
    std::deque<TaggedNotification> queue_;  // guarded by mutex_
};

}  // namespace korvane
