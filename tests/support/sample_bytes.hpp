#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace korvane::testing {

// `size` bytes from a seeded 64-bit generator, eight bytes per draw: the same
// for the same seed, every run, and quick to make under the sanitizers.
[[nodiscard]] inline std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = random();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k) {
            bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
        }
    }
    return bytes;
}

// Firmware-like sample content: RandomBytes with a fixed default seed.
[[nodiscard]] inline std::vector<std::uint8_t> SampleBytes(std::size_t size,
                                                           std::uint32_t seed = 21818) {
    return RandomBytes(size, seed);
}

}  // namespace korvane::testing
