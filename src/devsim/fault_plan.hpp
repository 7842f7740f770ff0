#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "devsim/reply_datagram.hpp"

namespace korvane::devsim {

// Faults the simulated device can inject. N counts every datagram the
// simulator has received since it started, from 1. Each fault works alone or
// with the others.
struct FaultPlan {
    std::optional<std::uint32_t> refuse_nth;      // reply to datagram N with status 0x15
    std::optional<std::uint32_t> drop_reply_nth;  // send no reply to datagram N
    std::chrono::milliseconds reply_delay{0};     // delay every reply
    bool duplicate_acks = false;                  // send every acknowledgement twice
    // Send every acknowledgement again this long after the first copy (0: not),
    // while the device goes on serving: a copy the network delayed.
    std::chrono::milliseconds late_duplicate{0};
    // Replies carry 00 00 in bytes 1-2: a device that does not echo sequences.
    bool zero_sequence = false;
    bool garbage_before_reply = false;  // short, unknown-code and oversized datagrams first
    // Refuse every end datagram (0x13). Like any refused request it changes
    // nothing: the transfer stays open, unjudged and unreported, until the
    // next header replaces it.
    bool refuse_end = false;
};

// What goes on the wire after one request: wait `delay`, then send `garbage`
// and `copies` times `reply`, in that order, to the requester; with a
// `late_after` one more copy of `reply` goes out that long after them. A
// plan without faults holds no allocated memory.
struct OutgoingPlan {
    std::chrono::milliseconds delay{0};
    std::vector<std::vector<std::uint8_t>> garbage;
    ReplyDatagram reply;
    int copies = 0;  // 0: nothing at all is sent, garbage included
    std::chrono::milliseconds late_after{0};
};

// The status byte the device sends when it refuses a request.
inline constexpr std::uint8_t REPLY_REFUSED = 0x15;
// Size of the oversized garbage datagram: beyond any receive buffer of the system.
inline constexpr std::size_t GARBAGE_OVERSIZED_SIZE = 6000;

// True when the plan refuses `datagram`, received with this ordinal (1-based).
[[nodiscard]] bool RefusesDatagram(const FaultPlan& plan, std::uint64_t ordinal,
                                   std::span<const std::uint8_t> datagram) noexcept;

// Turns the device's honest `reply` to datagram `ordinal` (nothing: the
// request is not answered) into what is actually sent. A dropped reply sends
// nothing at all, garbage included.
[[nodiscard]] OutgoingPlan PlanReplies(const FaultPlan& plan, std::uint64_t ordinal,
                                       const std::optional<ReplyDatagram>& reply);

}  // namespace korvane::devsim
