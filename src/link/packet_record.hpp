#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvane {

// One queued datagram: a fixed 8200-byte area of which the first Length() bytes
// are sent. Made by the packet builders, owned by the download queue for the
// job's whole life, read only by the thread that sends it.
class PacketRecord {
public:
    static constexpr std::size_t AREA_SIZE = 8200;

    // Copies `bytes` (cut to the area) and keeps the low 16 bits of `sequence`.
    PacketRecord(std::span<const std::uint8_t> bytes, std::uint32_t sequence) noexcept;
    virtual ~PacketRecord() = default;
    PacketRecord(const PacketRecord&) = delete;
    PacketRecord& operator=(const PacketRecord&) = delete;

    [[nodiscard]] std::uint16_t Length() const noexcept { return length_; }
    [[nodiscard]] std::uint16_t Sequence() const noexcept { return sequence_; }
    // The datagram as it goes on the wire.
    [[nodiscard]] std::span<const std::uint8_t> Datagram() const noexcept {
        return std::span<const std::uint8_t>(bytes_).first(length_);
    }

private:
    std::array<std::uint8_t, AREA_SIZE> bytes_;  // only the first length_ bytes are ever written
    std::uint16_t length_;
    std::uint16_t sequence_;
};

}  // namespace korvane
