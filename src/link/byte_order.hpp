#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Explicit byte order for everything on the wire: the device speaks big-endian,
// except the machine code, which the reply handling packs little-endian.
namespace korvane::bytes {

inline void PutU16BE(std::span<std::uint8_t, 2> out, std::uint16_t value) noexcept {
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}

inline void PutU32BE(std::span<std::uint8_t, 4> out, std::uint32_t value) noexcept {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

[[nodiscard]] inline std::uint16_t GetU16BE(std::span<const std::uint8_t, 2> in) noexcept {
    return static_cast<std::uint16_t>((in[0] << 8) | in[1]);
}

[[nodiscard]] inline std::uint32_t GetU32BE(std::span<const std::uint8_t, 4> in) noexcept {
    return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
           (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
}

// Reads up to four bytes starting at `offset` as a little-endian value; bytes
// beyond the end of `in` count as zero.
[[nodiscard]] inline std::uint32_t GetU32LEZeroPadded(std::span<const std::uint8_t> in,
                                                      std::size_t offset) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (offset + i < in.size()) {
            value |= std::uint32_t{in[offset + i]} << (8 * i);
        }
    }
    return value;
}

}  // namespace korvane::bytes
