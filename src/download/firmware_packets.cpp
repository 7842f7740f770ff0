#include "download/firmware_packets.hpp"

#include <algorithm>
#include <array>
#include <new>

#include "base/messages.hpp"
#include "download/md5_context.hpp"
#include "link/packet_builders.hpp"

namespace korvane {
namespace {

// Fills `out` from the file; what the file no longer has (it shrank since it
// was measured) stays zero, as in a FirmwareImage. False on a read error.
bool ReadChunk(int fd, std::span<std::uint8_t> out) {
    const std::optional<std::size_t> got = ReadFully(fd, out);
    if (!got) {
        return false;
    }
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(*got), out.end(), 0);
    return true;
}

DownloadRefusal Refusal(LoadStatus status) {
    return status == LoadStatus::TooLarge
               ? DownloadRefusal{.message = messages::FIRMWARE_TOO_LARGE}
               : DownloadRefusal{.message = messages::FIRMWARE_UNREADABLE};
}

// Reads the file chunk by chunk straight into its data datagrams, digesting
// as it goes, and puts the header in front once the digest is known. The
// datagrams are the same as those built from a FirmwareImage of the file, but
// the file is never held twice: peak memory is the queue alone, about 1.03
// times the file (each record has its fixed 8200-byte area).
LoadStatus BuildFromFile(const std::filesystem::path& path, FirmwarePackets& packets) {
    FirmwareFile file;
    if (const LoadStatus opened = OpenFirmwareFile(path, file); opened != LoadStatus::Loaded) {
        return opened;
    }
    const std::uint32_t length = file.length;
    try {
        auto queue = std::make_shared<PacketQueue>();
        queue->reserve(DatagramCount(length));
        queue->emplace_back();  // the header's place, filled once the digest is known
        Md5Context md5;
        std::array<std::uint8_t, MAX_DATA_PAYLOAD> chunk{};
        std::uint32_t left = length;
        while (left > 0) {
            const std::span<std::uint8_t> bytes =
                std::span(chunk).first(std::min<std::size_t>(left, MAX_DATA_PAYLOAD));
            if (!ReadChunk(file.fd.Get(), bytes)) {
                return LoadStatus::Unreadable;
            }
            md5.Update(bytes);
            queue->push_back(BuildDataPacket(static_cast<std::uint32_t>(queue->size()), bytes));
            left -= static_cast<std::uint32_t>(bytes.size());
        }
        // An empty file keeps the all-zero digest: nothing was digested.
        Digest digest{};
        if (length != 0) {
            md5.Final(digest);
        }
        (*queue)[0] = BuildHeaderPacket(0, length, digest);
        queue->push_back(BuildEndPacket(static_cast<std::uint32_t>(queue->size())));
        packets = FirmwarePackets{.queue = std::move(queue), .length = length, .digest = digest};
    } catch (const std::bad_alloc&) {
        return LoadStatus::NoMemory;
    }
    return LoadStatus::Loaded;
}

}  // namespace

PacketsLoad LoadFirmwarePackets(const std::filesystem::path& path) {
    PacketsLoad result;
    const LoadStatus status = BuildFromFile(path, result.packets);
    if (status != LoadStatus::Loaded) {
        // NotFound here means the file went away since it was checked.
        result.refusal = Refusal(status);
        result.packets = {};
    }
    return result;
}

}  // namespace korvane
