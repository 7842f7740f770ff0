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

}  // namespace korvane::testing
