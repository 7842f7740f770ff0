#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/hex.hpp"
#include "link/packet_record.hpp"

namespace korvane::testing {

// Datagram bytes written the way they are read in a capture: "12 00 01 06".
// Blanks are ignored; anything else that is not hex stops the test.
[[nodiscard]] inline std::vector<std::uint8_t> Hex(std::string_view text) {
    std::string compact;
    for (const char c : text) {
        if (c != ' ') {
            compact.push_back(c);
        }
    }
    auto bytes = FromHex(compact);
    if (!bytes) {
        throw std::invalid_argument("not hex: " + std::string(text));
    }
    return std::move(*bytes);
}

// The bytes a packet record puts on the wire.
[[nodiscard]] inline std::vector<std::uint8_t> Wire(const PacketRecord& record) {
    return record.Bytes();
}

}  // namespace korvane::testing
