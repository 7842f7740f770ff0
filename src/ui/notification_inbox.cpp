#include "ui/notification_inbox.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

namespace korvane {

NotificationInbox::NotificationInbox(std::function<void(const TaggedNotification&)> handler)
    : handler_(std::move(handler)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!wake_) {
        std::abort();  // no eventfd: the window could never learn of a reply
    }
    notifier_ = std::make_unique<QSocketNotifier>(wake_.Get(), QSocketNotifier::Read);
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
    const std::uint64_t one = 1;
    (void)!::write(wake_.Get(), &one, sizeof one);
}

void NotificationInbox::Deliver() {
    std::uint64_t count = 0;
    (void)!::read(wake_.Get(), &count, sizeof count);
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
