#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include "link/ack_event.hpp"
#include "link/notifications.hpp"

namespace korvane {

// Asks a running exchange to stop before its next request; set by a refusal
// from the device and by the front end, cleared when a download starts.
using AbortFlag = std::atomic<bool>;

// What one datagram from the device does, in this order: post the
// notification (if any), then set the AckEvent and/or the AbortFlag.
struct ReplyEffects {
    std::optional<Notification> post;
    bool set_ack = false;
    bool set_abort = false;

    friend bool operator==(const ReplyEffects&, const ReplyEffects&) = default;
};

// The reply rules: a pure function from a received datagram to its effects.
[[nodiscard]] ReplyEffects DecideReplyEffects(std::span<const std::uint8_t> datagram) noexcept;

// True for a datagram whose code is one of the download's (header, data, end).
[[nodiscard]] bool IsDownloadReply(std::span<const std::uint8_t> datagram) noexcept;

// Whether `datagram` releases the wait of the download datagram whose code is
// `outstanding`: an acknowledgement with any download code releases the
// header's or a data datagram's wait, but only one that repeats the end
// datagram's own code releases the end's, so the final verdict is always the
// device's verdict on the end datagram.
[[nodiscard]] bool ReleasesDownloadWait(std::span<const std::uint8_t> datagram,
                                        std::uint8_t outstanding) noexcept;

// Carries out `effects` in their order: the notification is posted before the
// waiting sender is released, so it always stands ahead of what that sender
// posts next.
void ApplyReplyEffects(const ReplyEffects& effects, AckEvent& ack, AbortFlag& abort,
                       NotificationSink& sink) noexcept;

}  // namespace korvane
