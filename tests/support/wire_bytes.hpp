#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/hex.hpp"
#include "link/protocol.hpp"

namespace korvane::testing {

// Datagram bytes written the way they are read in a capture: "12 00 01 06".
// Blanks are ignored; anything else that is not hex stops the test.
[[nodiscard]] inline std::vector<std::uint8_t> Hex(std::string_view text) {
    std::string compact(text);
    std::erase(compact, ' ');
    auto bytes = FromHex(compact);
    if (!bytes) {
        throw std::invalid_argument("not hex: " + std::string(text));
    }
    return std::move(*bytes);
}

// The whole download of the 3-byte file "abc", as the system sends it.
inline constexpr std::string_view ABC_MD5 = "900150983cd24fb0d6963f7d28e17f72";
inline constexpr std::string_view ABC_HEADER =
    "11 0000 00000003 900150983cd24fb0d6963f7d28e17f72 4472697665724d616e61676572";
inline constexpr std::string_view ABC_DATA = "12 0001 0003 616263";
inline constexpr std::string_view ABC_END = "13 0002 0000";

}  // namespace korvane::testing
