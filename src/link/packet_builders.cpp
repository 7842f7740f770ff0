#include "link/packet_builders.hpp"

#include <algorithm>
#include <array>
#include <cassert>

#include "link/byte_order.hpp"

namespace korvane {
namespace {

// A scratch area as large as the biggest datagram; only its prefix is copied.
using Scratch = std::array<std::uint8_t, MAX_DATA_PACKET_SIZE>;

void PutCodeAndSequence(Scratch& area, std::uint8_t code, std::uint32_t sequence) {
    area[0] = code;
    bytes::PutU16BE(std::span(area).subspan<1, 2>(), static_cast<std::uint16_t>(sequence));
}

}  // namespace

std::unique_ptr<PacketRecord> BuildHeaderPacket(std::uint32_t sequence, std::uint32_t file_length,
                                                const Digest& digest) {
    Scratch area{};
    PutCodeAndSequence(area, PKT_HEADER, sequence);
    bytes::PutU32BE(std::span(area).subspan<3, 4>(), file_length);
    std::copy(digest.begin(), digest.end(), area.begin() + HEADER_DIGEST_OFFSET);
    std::copy(MODULE_NAME.begin(), MODULE_NAME.end(), area.begin() + HEADER_MODULE_OFFSET);
    return std::make_unique<PacketRecord>(std::span(area).first(HEADER_PACKET_SIZE), sequence);
}

std::unique_ptr<PacketRecord> BuildDataPacket(std::uint32_t sequence,
                                              std::span<const std::uint8_t> payload) {
    assert(!payload.empty() && payload.size() <= MAX_DATA_PAYLOAD);
    const std::size_t n = std::min(payload.size(), MAX_DATA_PAYLOAD);
    Scratch area{};
    PutCodeAndSequence(area, PKT_DATA, sequence);
    bytes::PutU16BE(std::span(area).subspan<3, 2>(), static_cast<std::uint16_t>(n));
    std::copy_n(payload.begin(), n, area.begin() + DATA_PREFIX_SIZE);
    return std::make_unique<PacketRecord>(std::span(area).first(DATA_PREFIX_SIZE + n), sequence);
}

std::unique_ptr<PacketRecord> BuildEndPacket(std::uint32_t sequence) {
    Scratch area{};
    PutCodeAndSequence(area, PKT_END, sequence);
    return std::make_unique<PacketRecord>(std::span(area).first(END_PACKET_SIZE), sequence);
}

}  // namespace korvane
