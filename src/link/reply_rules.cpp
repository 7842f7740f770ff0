#include "link/reply_rules.hpp"

#include <algorithm>

#include "link/byte_order.hpp"
#include "link/protocol.hpp"

namespace korvane {
namespace {

ReplyEffects MachineCodeEffects(std::span<const std::uint8_t> datagram) noexcept {
    ReplyEffects effects{.set_ack = true};
    if (datagram[REPLY_STATUS_OFFSET] != REPLY_ACK ||
        datagram.size() < MACHINE_CODE_LENGTH_OFFSET + 2) {
        return effects;
    }
    // The declared length counts the whole reply, its six leading bytes included.
    const std::uint16_t declared =
        bytes::GetU16BE(datagram.subspan<MACHINE_CODE_LENGTH_OFFSET, 2>());
    if (declared == 0 || declared > datagram.size()) {
        return effects;
    }
    effects.post = Notification{
        .code = UM_MACHINE_CODE,
        .first = bytes::GetU32LEZeroPadded(datagram, MACHINE_CODE_OFFSET),
        .second = bytes::GetU32LEZeroPadded(datagram, MACHINE_CODE_OFFSET + 4),
    };
    return effects;
}

}  // namespace

ReplyEffects DecideReplyEffects(std::span<const std::uint8_t> datagram) noexcept {
    if (datagram.size() < MIN_REPLY_SIZE) {
        return {};
    }
    const bool acknowledged = datagram[REPLY_STATUS_OFFSET] == REPLY_ACK;
    switch (datagram[0]) {
        case PKT_HEADER:
        case PKT_DATA:
        case PKT_END:
            if (acknowledged) {
                return {.post = Notification{.code = UM_PACKET_ACKED}, .set_ack = true};
            }
            return {.set_abort = true};
        case PKT_RESTORE_IP:
            return acknowledged ? ReplyEffects{.set_ack = true} : ReplyEffects{.set_abort = true};
        case PKT_GET_MACHINE_CODE:
            return MachineCodeEffects(datagram);
        default:
            return {};
    }
}

bool IsDownloadReply(std::span<const std::uint8_t> datagram) noexcept {
    return datagram.size() >= MIN_REPLY_SIZE &&
           (datagram[0] == PKT_HEADER || datagram[0] == PKT_DATA || datagram[0] == PKT_END);
}

namespace {

std::uint16_t ReplySequence(std::span<const std::uint8_t> reply) noexcept {
    return bytes::GetU16BE(reply.subspan<1, 2>());
}

}  // namespace

bool ReleasesDownloadWait(std::span<const std::uint8_t> datagram, Outstanding outstanding,
                          bool device_echoes) noexcept {
    const std::uint8_t code = outstanding.code;
    return IsDownloadReply(datagram) && datagram[REPLY_STATUS_OFFSET] == REPLY_ACK &&
           (code == PKT_HEADER || code == PKT_DATA ||
            (code == PKT_END && datagram[0] == PKT_END)) &&
           (!device_echoes || ReplySequence(datagram) == outstanding.sequence);
}

void SequenceEcho::Released(std::size_t index, Outstanding sent,
                            std::span<const std::uint8_t> reply) noexcept {
    if (!IsDownloadReply(reply)) {
        return;
    }
    const bool own = ReplySequence(reply) == sent.sequence;
    if (index == 0) {
        header_echoed_ = sent.code == PKT_HEADER && own;
        std::copy_n(reply.begin(), header_reply_.size(), header_reply_.begin());
    } else if (index == 1) {
        echoes_ = header_echoed_ && sent.code == PKT_DATA && own;
    }
}

bool SequenceEcho::RepeatsHeaderReply(std::size_t index,
                                      std::span<const std::uint8_t> reply) const noexcept {
    return index == 1 && header_echoed_ && header_reply_[0] == PKT_HEADER &&
           reply.size() >= header_reply_.size() &&
           std::equal(header_reply_.begin(), header_reply_.end(), reply.begin());
}

void ApplyReplyEffects(const ReplyEffects& effects, AckEvent& ack, AbortFlag& abort,
                       NotificationSink& sink) noexcept {
    if (effects.post) {
        sink.Post(*effects.post);
    }
    if (effects.set_abort) {
        abort.store(true);
    }
    if (effects.set_ack) {
        ack.Set();
    }
}

}  // namespace korvane
