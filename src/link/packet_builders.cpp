#include "link/packet_builders.hpp"

#include <algorithm>
#include <array>
#include <cassert>

#include "link/byte_order.hpp"

namespace korvane {
namespace {

using Head = std::array<std::uint8_t, PacketRecord::HEAD_CAPACITY>;

void PutCodeAndSequence(Head& head, std::uint8_t code, std::uint32_t sequence) noexcept {
    head[0] = code;
    bytes::PutU16BE(std::span(head).subspan<1, 2>(), static_cast<std::uint16_t>(sequence));
}

}  // namespace

PacketRecord BuildHeaderPacket(std::uint32_t sequence, std::uint32_t file_length,
                               const Digest& digest) noexcept {
    Head head{};
    PutCodeAndSequence(head, PKT_HEADER, sequence);
    bytes::PutU32BE(std::span(head).subspan<3, 4>(), file_length);
    std::copy(digest.begin(), digest.end(), head.begin() + HEADER_DIGEST_OFFSET);
    std::copy(MODULE_NAME.begin(), MODULE_NAME.end(), head.begin() + HEADER_MODULE_OFFSET);
    return PacketRecord(std::span(head).first(HEADER_PACKET_SIZE), {}, sequence);
}

PacketRecord BuildDataPacket(std::uint32_t sequence,
                             std::span<const std::uint8_t> payload) noexcept {
    assert(!payload.empty() && payload.size() <= MAX_DATA_PAYLOAD);
    const auto n = payload.first(std::min(payload.size(), MAX_DATA_PAYLOAD));
    Head head{};
    PutCodeAndSequence(head, PKT_DATA, sequence);
    bytes::PutU16BE(std::span(head).subspan<3, 2>(), static_cast<std::uint16_t>(n.size()));
    return PacketRecord(std::span(head).first(DATA_PREFIX_SIZE), n, sequence);
}

PacketRecord BuildEndPacket(std::uint32_t sequence) noexcept {
    Head head{};
    PutCodeAndSequence(head, PKT_END, sequence);
    return PacketRecord(std::span(head).first(END_PACKET_SIZE), {}, sequence);
}

}  // namespace korvane
