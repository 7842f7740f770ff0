#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "download/download_inputs.hpp"
#include "download/firmware_image.hpp"
#include "link/packet_record.hpp"

namespace korvane {

// The datagrams of one download in sending order: header, the file in chunks
// of at most MAX_DATA_PAYLOAD bytes, end, each numbered with the count of
// datagrams before it. Owns the firmware image its data datagrams refer to,
// so the file is in memory once however many devices it goes to. Complete
// when built and never changed: any number of jobs (one per device of a
// fleet) may send it at once, and it goes away with the last of them.
class PacketQueue {
public:
    explicit PacketQueue(FirmwareImage image);
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;

    [[nodiscard]] std::size_t size() const noexcept { return records_.size(); }
    [[nodiscard]] const PacketRecord& operator[](std::size_t index) const noexcept {
        return records_[index];
    }
    [[nodiscard]] auto begin() const noexcept { return records_.begin(); }
    [[nodiscard]] auto end() const noexcept { return records_.end(); }
    [[nodiscard]] const FirmwareImage& Image() const noexcept { return image_; }

private:
    FirmwareImage image_;
    std::vector<PacketRecord> records_;
};

// Number of datagrams for a file of `length` bytes (header + chunks + end).
[[nodiscard]] std::uint64_t DatagramCount(std::uint64_t length) noexcept;

// The firmware at `path`, loaded and queued. A file that exists but cannot be
// read whole as it was at open (a folder, no permission, a read error, no
// memory, a size that changed while it was read) is refused with "Failed to
// read firmware!", one of 4 GiB or more with "Firmware is too large!"; the
// status says which. A zero-length file gives header (length 0, all-zero
// digest) + end.
struct FirmwareLoad {
    LoadStatus status = LoadStatus::Loaded;
    std::optional<DownloadRefusal> refusal;
    std::shared_ptr<const PacketQueue> queue;  // set when loaded
};
[[nodiscard]] FirmwareLoad LoadFirmware(const std::filesystem::path& path);

}  // namespace korvane
