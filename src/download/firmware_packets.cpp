#include "download/firmware_packets.hpp"

#include "base/messages.hpp"
#include "download/firmware_image.hpp"

namespace korvane {

PacketsLoad LoadFirmwarePackets(const std::filesystem::path& path) {
    PacketsLoad result;
    auto image = std::make_unique<FirmwareImage>();
    switch (image->Load(path)) {
        case LoadStatus::Loaded:
            break;
        case LoadStatus::TooLarge:
            result.refusal = DownloadRefusal{.message = messages::FIRMWARE_TOO_LARGE};
            return result;
        case LoadStatus::NotFound:  // gone since it was checked
        case LoadStatus::Unreadable:
        case LoadStatus::NoMemory:
            result.refusal = DownloadRefusal{.message = messages::FIRMWARE_UNREADABLE};
            return result;
    }
    result.packets.length = image->Length();
    result.packets.digest = image->Digest();
    auto queue = std::make_shared<PacketQueue>(BuildPacketQueue(*image));
    // The records hold their own copies of the bytes: let the image go at once.
    image.reset();
    result.packets.queue = std::move(queue);
    return result;
}

}  // namespace korvane
