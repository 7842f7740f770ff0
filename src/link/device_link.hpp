#pragma once

#include "link/ack_event.hpp"
#include "link/notifications.hpp"
#include "link/reply_rules.hpp"

namespace korvane {

// What a front end shares with the device: the AckEvent senders wait on, the
// AbortFlag, and the sink that takes notifications. The dialog owns one; a
// CLI fleet owns one per device. It must outlive every exchange and job that
// uses it. Thread-safe: receive threads, senders and the front end use its
// event and flag at once.
class DeviceLink {
public:
    explicit DeviceLink(NotificationSink& sink) : sink_(sink) {}

    [[nodiscard]] AckEvent& Ack() noexcept { return ack_; }
    [[nodiscard]] AbortFlag& Abort() noexcept { return abort_; }
    [[nodiscard]] NotificationSink& Sink() noexcept { return sink_; }

private:
    NotificationSink& sink_;
    AckEvent ack_;
    AbortFlag abort_{false};
};

}  // namespace korvane
