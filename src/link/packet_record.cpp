#include "link/packet_record.hpp"

#include <algorithm>

namespace korvane {

PacketRecord::PacketRecord(std::span<const std::uint8_t> head,
                           std::span<const std::uint8_t> payload, std::uint32_t sequence) noexcept
    : head_length_(static_cast<std::uint8_t>(std::min(head.size(), HEAD_CAPACITY))),
      sequence_(static_cast<std::uint16_t>(sequence)),
      payload_(payload) {
    std::copy_n(head.begin(), head_length_, head_.begin());
}

std::vector<std::uint8_t> PacketRecord::Bytes() const {
    std::vector<std::uint8_t> bytes(Head().begin(), Head().end());
    bytes.insert(bytes.end(), payload_.begin(), payload_.end());
    return bytes;
}

}  // namespace korvane
