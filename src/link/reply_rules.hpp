#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "link/ack_event.hpp"
#include "link/notifications.hpp"
#include "link/protocol.hpp"

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

// The download datagram whose wait is open.
struct Outstanding {
    std::uint8_t code = 0;  // 0: none
    std::uint16_t sequence = 0;
};

// Whether `datagram` releases the wait of `outstanding`: an acknowledgement
// with any download code releases the header's or a data datagram's wait, but
// only one that repeats the end datagram's own code releases the end's, so the
// final verdict is always the device's verdict on the end datagram. From a
// device known to echo sequences, only an acknowledgement that carries the
// outstanding datagram's own sequence releases it: any other is a late copy
// of an earlier one.
[[nodiscard]] bool ReleasesDownloadWait(std::span<const std::uint8_t> datagram,
                                        Outstanding outstanding, bool device_echoes) noexcept;

// Learns, within one download, whether the device repeats in reply bytes 1-2
// the sequence of the datagram it answers. A device need not; one whose
// acknowledgements of the header (0) and of the first data datagram (1) both
// carried their own sequence does, and from then on its sequences are
// trusted. Owned by one job and used under its lock.
class SequenceEcho {
public:
    // Tells that `reply` released the wait of `sent`, the index-th datagram.
    void Released(std::size_t index, Outstanding sent,
                  std::span<const std::uint8_t> reply) noexcept;
    [[nodiscard]] bool Learned() const noexcept { return echoes_; }
    // Whether `reply`, come while the first data datagram (index 1) waits,
    // is a late copy of the reply that released the header: the same bytes,
    // from a device whose header reply carried the header's own code and
    // sequence. Nothing is learned yet at that point, so without this a
    // repeated header reply would release the first data datagram and teach
    // that the device does not echo. A device that answered every datagram
    // with those bytes could not finish a download anyway: only the end's own
    // code releases the end.
    [[nodiscard]] bool RepeatsHeaderReply(std::size_t index,
                                          std::span<const std::uint8_t> reply) const noexcept;

private:
    bool header_echoed_ = false;
    bool echoes_ = false;
    std::array<std::uint8_t, MIN_REPLY_SIZE> header_reply_{};
};

// Carries out `effects` in their order: the notification is posted before the
// waiting sender is released, so it always stands ahead of what that sender
// posts next.
void ApplyReplyEffects(const ReplyEffects& effects, AckEvent& ack, AbortFlag& abort,
                       NotificationSink& sink) noexcept;

}  // namespace korvane
