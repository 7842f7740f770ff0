#include "download/packet_queue.hpp"

#include <algorithm>
#include <new>

#include "base/messages.hpp"
#include "link/packet_builders.hpp"

namespace korvane {

PacketQueue::PacketQueue(FirmwareImage image) : image_(std::move(image)) {
    std::span<const std::uint8_t> data = image_.Data();
    records_.reserve(DatagramCount(data.size()));
    records_.push_back(BuildHeaderPacket(0, image_.Length(), image_.Digest()));
    while (!data.empty()) {
        const std::size_t n = std::min(data.size(), MAX_DATA_PAYLOAD);
        records_.push_back(
            BuildDataPacket(static_cast<std::uint32_t>(records_.size()), data.first(n)));
        data = data.subspan(n);
    }
    records_.push_back(BuildEndPacket(static_cast<std::uint32_t>(records_.size())));
}

std::uint64_t DatagramCount(std::uint64_t length) noexcept {
    return 2 + (length + MAX_DATA_PAYLOAD - 1) / MAX_DATA_PAYLOAD;
}

FirmwareLoad LoadFirmware(const std::filesystem::path& path) {
    FirmwareLoad load;
    FirmwareImage image;
    load.status = image.Load(path);
    if (load.status == LoadStatus::Loaded) {
        try {
            load.queue = std::make_shared<const PacketQueue>(std::move(image));
        } catch (const std::bad_alloc&) {
            load.status = LoadStatus::NoMemory;
        }
    }
    if (load.status != LoadStatus::Loaded) {
        // NotFound here means the file went away since it was checked.
        load.refusal = load.status == LoadStatus::TooLarge
                           ? DownloadRefusal{.message = messages::FIRMWARE_TOO_LARGE}
                           : DownloadRefusal{.message = messages::FIRMWARE_UNREADABLE};
    }
    return load;
}

}  // namespace korvane
