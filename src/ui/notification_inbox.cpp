#include "ui/notification_inbox.hpp"

#include <cstdlib>
#include <optional>

namespace korvane {

NotificationInbox::NotificationInbox(std::function<void(const TaggedNotification&)> handler)
    : handler_(std::move(handler)) {
    if (!wake_.Valid()) {
        std::abort();  // the window could never learn of a reply
    }
    notifier_ = std::make_unique<QSocketNotifier>(wake_.Handle(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Deliver(); });
}

NotificationInbox::~NotificationInbox() = default;

void NotificationInbox::Post(const Notification& notification) noexcept {
    try {
        const std::lock_guard lock(mutex_);
        queue_.push_back(TaggedNotification{notification, job_.load()});
    } catch (...) {
        return;  // out of memory: the notification is lost, as a lost datagram would be
    }
    wake_.Set();
}

void NotificationInbox::Deliver() {
    wake_.Clear();
    for (;;) {
        std::optional<TaggedNotification> next;
        {
            const std::lock_guard lock(mutex_);
            if (queue_.empty()) {
                return;
            }
            next = queue_.front();
            queue_.pop_front();
        }
        handler_(*next);
    }
}

}  // namespace korvane
