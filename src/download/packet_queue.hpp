#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "download/firmware_image.hpp"
#include "link/packet_record.hpp"

namespace korvane {

// The datagrams of one download in sending order: header, the file in chunks
// of at most MAX_DATA_PAYLOAD bytes, end. Complete before sending starts and
// never changed afterwards.
using PacketQueue = std::vector<std::unique_ptr<PacketRecord>>;

// Number of datagrams for a file of `length` bytes (header + chunks + end).
[[nodiscard]] std::uint64_t DatagramCount(std::uint64_t length) noexcept;

// Builds each datagram of a download in order and hands it to `emit`; each is
// numbered with the count of datagrams built before it.
void ForEachDatagram(std::uint32_t length, const Digest& digest, std::span<const std::uint8_t> data,
                     const std::function<void(std::unique_ptr<PacketRecord>)>& emit);

[[nodiscard]] PacketQueue BuildPacketQueue(const FirmwareImage& image);

}  // namespace korvane
