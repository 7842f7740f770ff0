#pragma once

#include <cstdint>
#include <span>

#include "link/packet_record.hpp"
#include "link/protocol.hpp"

// The three datagrams of a download. Each takes the count of datagrams built
// before it for the same download as its sequence value; the 16-bit field on
// the wire carries the low 16 bits of it.
namespace korvane {

// 36 bytes: 0x11, sequence, file length, digest, "DriverManager".
[[nodiscard]] PacketRecord BuildHeaderPacket(std::uint32_t sequence, std::uint32_t file_length,
                                             const Digest& digest) noexcept;

// 5 + n bytes: 0x12, sequence, n, payload. The record refers to `payload`,
// which must outlive it. The caller keeps 1 <= n <= MAX_DATA_PAYLOAD.
[[nodiscard]] PacketRecord BuildDataPacket(std::uint32_t sequence,
                                           std::span<const std::uint8_t> payload) noexcept;

// 5 bytes: 0x13, sequence, 0, 0.
[[nodiscard]] PacketRecord BuildEndPacket(std::uint32_t sequence) noexcept;

}  // namespace korvane
