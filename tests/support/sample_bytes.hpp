#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace korvane::testing {

// Firmware-like content: `size` bytes from a seeded generator, eight a draw:
// the same for the same seed every run, and quick under the sanitizers.
[[nodiscard]] inline std::vector<std::uint8_t> SampleBytes(std::size_t size,
                                                           std::uint64_t seed = 21818) {
    std::mt19937_64 random(seed);
    std::vector<std::uint8_t> bytes(size);
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < size; ++i) {
        word = i % 8 == 0 ? random() : word >> 8;
        bytes[i] = static_cast<std::uint8_t>(word);
    }
    return bytes;
}

}  // namespace korvane::testing
