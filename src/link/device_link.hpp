#pragma once

#include <cstdint>
#include <span>

#include "link/ack_event.hpp"
#include "link/device_reply_handler.hpp"
#include "link/reply_rules.hpp"

namespace korvane {

// What a front end shares with the device: the AckEvent senders wait on, the
// AbortFlag, and the sink that takes notifications. It is the owner every
// UdpEndpoint reports to. The dialog owns one; a CLI fleet owns one per
// device. It must outlive every endpoint and job that uses it. Thread-safe:
// replies arrive on receive threads while senders wait on other threads.
class DeviceLink final : public DeviceReplyHandler {
public:
    explicit DeviceLink(NotificationSink& sink) : sink_(sink) {}

    // Applies the reply rules to one datagram (runs on a receive thread).
    void HandleDeviceReply(std::span<const std::uint8_t> datagram) noexcept override {
        ApplyReplyEffects(DecideReplyEffects(datagram), ack_, abort_, sink_);
    }

    [[nodiscard]] AckEvent& Ack() noexcept { return ack_; }
    [[nodiscard]] AbortFlag& Abort() noexcept { return abort_; }
    [[nodiscard]] NotificationSink& Sink() noexcept { return sink_; }

private:
    NotificationSink& sink_;
    AckEvent ack_;
    AbortFlag abort_{false};
};

}  // namespace korvane
