#include "ui/notification_inbox.hpp"

#include <QCoreApplication>
#include <QEvent>

namespace korvane {

void NotificationInbox::Post(const Notification& notification) noexcept {
    try {
        QMetaObject::invokeMethod(
            &receiver_,
            [this, tagged = TaggedNotification{notification, job_.load()}] { handler_(tagged); },
            Qt::QueuedConnection);
    } catch (...) {
        // out of memory: the notification is lost, as a lost datagram would be
    }
}

void NotificationInbox::Deliver() {
    QCoreApplication::sendPostedEvents(&receiver_, QEvent::MetaCall);
}

}  // namespace korvane
