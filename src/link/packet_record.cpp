#include "link/packet_record.hpp"

#include <algorithm>

namespace korvane {

PacketRecord::PacketRecord(std::span<const std::uint8_t> bytes, std::uint32_t sequence) noexcept
    : length_(static_cast<std::uint16_t>(std::min(bytes.size(), AREA_SIZE))),
      sequence_(static_cast<std::uint16_t>(sequence)) {
    std::copy_n(bytes.begin(), length_, bytes_.begin());
}

}  // namespace korvane
