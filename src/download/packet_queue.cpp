#include "download/packet_queue.hpp"

#include <algorithm>

#include "link/packet_builders.hpp"

namespace korvane {

std::uint64_t DatagramCount(std::uint64_t length) noexcept {
    return 2 + (length + MAX_DATA_PAYLOAD - 1) / MAX_DATA_PAYLOAD;
}

void ForEachDatagram(std::uint32_t length, const Digest& digest, std::span<const std::uint8_t> data,
                     const std::function<void(std::unique_ptr<PacketRecord>)>& emit) {
    std::uint32_t sequence = 0;
    emit(BuildHeaderPacket(sequence++, length, digest));
    while (!data.empty()) {
        const std::size_t n = std::min(data.size(), MAX_DATA_PAYLOAD);
        emit(BuildDataPacket(sequence++, data.first(n)));
        data = data.subspan(n);
    }
    emit(BuildEndPacket(sequence));
}

PacketQueue BuildPacketQueue(const FirmwareImage& image) {
    PacketQueue queue;
    queue.reserve(DatagramCount(image.Data().size()));
    ForEachDatagram(
        image.Length(), image.Digest(), image.Data(),
        [&queue](std::unique_ptr<PacketRecord> record) { queue.push_back(std::move(record)); });
    return queue;
}

}  // namespace korvane
