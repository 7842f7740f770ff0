#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "download/download_inputs.hpp"
#include "download/packet_queue.hpp"
#include "link/protocol.hpp"

namespace korvane {

// The datagrams of one firmware file, ready to send. The queue is complete
// and never changes, so any number of jobs (one per device of a fleet) may
// send it at the same time; it goes away with the last of them.
struct FirmwarePackets {
    std::shared_ptr<const PacketQueue> queue;
    std::uint32_t length = 0;
    Digest digest{};

    // N: header + chunks + end.
    [[nodiscard]] std::size_t Count() const noexcept { return queue ? queue->size() : 0; }
};

struct PacketsLoad {
    std::optional<DownloadRefusal> refusal;
    FirmwarePackets packets;
};

// Reads the file and builds its queue: the same datagrams as BuildPacketQueue
// of a FirmwareImage of the file, without holding the file and the queue at
// once. A file that exists but cannot be read (a folder, no permission, a
// read error, no memory) is refused with "Failed to read firmware!" and one of
// 4 GiB or more with "Firmware is too large!"; nothing is queued then. A
// zero-length file gives header (length 0, all-zero digest) + end.
[[nodiscard]] PacketsLoad LoadFirmwarePackets(const std::filesystem::path& path);

}  // namespace korvane
