#include "link/machine_code_text.hpp"

#include <array>
#include <cstdio>

namespace korvane {

std::string FormatMachineCode(std::uint32_t first, std::uint32_t second) {
    static constexpr std::array<std::uint8_t, 8> SUFFIX{'b', 'r', 'a', 'c', 'k', 'l', 'e', '1'};
    std::array<unsigned, 16> b{};
    for (std::size_t i = 0; i < 4; ++i) {
        b[i] = (first >> (8 * i)) & 0xffu;
        b[4 + i] = (second >> (8 * i)) & 0xffu;
    }
    for (std::size_t i = 0; i < SUFFIX.size(); ++i) {
        b[8 + i] = SUFFIX[i];
    }
    std::array<char, 37> text{};
    std::snprintf(text.data(), text.size(),
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return std::string(text.data(), 36);
}

}  // namespace korvane
