#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/protocol.hpp"

namespace korvane {

// One queued datagram as it goes on the wire: a few bytes of its own (a whole
// header or end datagram, or the 5-byte prefix of a data datagram), then, for
// data, the slice of the firmware image it carries. The record refers to that
// slice and does not copy it, so a queue costs a few dozen bytes per datagram
// on top of the image; whoever owns the record keeps the image alive
// (PacketQueue holds both). A plain value, read by any number of senders.
class PacketRecord {
public:
    static constexpr std::size_t HEAD_CAPACITY = HEADER_PACKET_SIZE;

    // `head` is copied (cut to HEAD_CAPACITY); `payload` is referred to. The
    // sequence keeps its low 16 bits.
    PacketRecord(std::span<const std::uint8_t> head, std::span<const std::uint8_t> payload,
                 std::uint32_t sequence) noexcept;

    [[nodiscard]] std::uint16_t Sequence() const noexcept { return sequence_; }
    [[nodiscard]] std::span<const std::uint8_t> Head() const noexcept {
        return std::span(head_).first(head_length_);
    }
    [[nodiscard]] std::span<const std::uint8_t> Payload() const noexcept { return payload_; }
    // The whole datagram in one buffer (for display and inspection; senders
    // send Head() and Payload() as one datagram without copying).
    [[nodiscard]] std::vector<std::uint8_t> Bytes() const;

private:
    std::array<std::uint8_t, HEAD_CAPACITY> head_{};
    std::uint8_t head_length_;
    std::uint16_t sequence_;
    std::span<const std::uint8_t> payload_;
};

}  // namespace korvane
