#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace korvane::testing {

// `size` bytes from a seeded generator: the same for the same seed, every run.
[[nodiscard]] inline std::vector<std::uint8_t> SampleBytes(std::size_t size,
                                                           std::uint32_t seed = 21818) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes) {
        b = static_cast<std::uint8_t>(generator() >> 24);
    }
    return bytes;
}

// The same from a 64-bit generator, eight bytes per draw: large buffers stay
// quick to make under the sanitizers.
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

}  // namespace korvane::testing
