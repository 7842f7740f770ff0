#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/protocol.hpp"

namespace korvane {

// MD5 as RFC 1321 defines it: the same chaining values, rounds, padding and
// output byte order. A context digests one message at a time and is ready for
// the next after Final. Plain value type; one thread at a time.
class Md5Context {
public:
    Md5Context() noexcept { Init(); }

    void Init() noexcept;
    void Update(std::span<const std::uint8_t> input) noexcept;
    // Pads, writes the digest (chaining word A first, each word least
    // significant byte first), wipes the context and runs Init again.
    void Final(Digest& out) noexcept;

    // One-shot convenience.
    [[nodiscard]] static Digest Of(std::span<const std::uint8_t> input) noexcept;

private:
    static constexpr std::size_t BLOCK_SIZE = 64;

    void Transform(const std::uint8_t* blocks, std::size_t count) noexcept;

    std::array<std::uint32_t, 4> state_{};
    std::uint64_t bit_count_ = 0;
    std::array<std::uint8_t, BLOCK_SIZE> buffer_{};
};

}  // namespace korvane
