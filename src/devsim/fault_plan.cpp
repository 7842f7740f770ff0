#include "devsim/fault_plan.hpp"

#include "link/protocol.hpp"

namespace korvane::devsim {
namespace {

// Three datagrams that a correct receiver drops without effect: one too short
// to be a reply, one with a code the system never sends, and one too long for
// the receive buffer. The short and the oversized one look like an
// acknowledgement of the request, so a receiver that cut the oversized one to
// its buffer, or read past the end of the short one, would count an extra
// acknowledgement.
std::vector<std::vector<std::uint8_t>> Garbage(std::span<const std::uint8_t> reply) {
    const std::uint8_t code = reply.empty() ? 0 : reply[0];
    const std::uint8_t seq_hi = reply.size() > 1 ? reply[1] : 0;
    const std::uint8_t seq_lo = reply.size() > 2 ? reply[2] : 0;
    std::vector<std::uint8_t> oversized(GARBAGE_OVERSIZED_SIZE, 0xEE);
    oversized[0] = code;
    oversized[1] = seq_hi;
    oversized[2] = seq_lo;
    oversized[3] = REPLY_ACK;
    return {
        {code, seq_hi, seq_lo},
        {0x10, seq_hi, seq_lo, REPLY_ACK},
        std::move(oversized),
    };
}

}  // namespace

bool RefusesDatagram(const FaultPlan& plan, std::uint64_t ordinal,
                     std::span<const std::uint8_t> datagram) noexcept {
    const bool end = !datagram.empty() && datagram[0] == PKT_END;
    return (plan.refuse_nth && *plan.refuse_nth == ordinal) || (plan.refuse_end && end);
}

OutgoingPlan PlanReplies(const FaultPlan& plan, std::uint64_t ordinal,
                         const std::optional<ReplyDatagram>& reply) {
    OutgoingPlan out;
    if (!reply || (plan.drop_reply_nth && *plan.drop_reply_nth == ordinal)) {
        return out;
    }
    out.reply = *reply;
    const auto sent = out.reply.Bytes();
    if (plan.zero_sequence && sent.size() >= 3) {
        sent[1] = 0;
        sent[2] = 0;
    }
    out.delay = plan.reply_delay;
    if (plan.garbage_before_reply) {
        out.garbage = Garbage(sent);
    }
    const bool acknowledgement =
        sent.size() >= MIN_REPLY_SIZE && sent[REPLY_STATUS_OFFSET] == REPLY_ACK;
    if (plan.late_duplicate.count() > 0 && acknowledgement) {
        out.late_after = plan.late_duplicate;
    }
    out.copies = plan.duplicate_acks && acknowledgement ? 2 : 1;
    return out;
}

}  // namespace korvane::devsim
