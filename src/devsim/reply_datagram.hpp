#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "link/protocol.hpp"

namespace korvane::devsim {

// One datagram the device sends back, held in place so that answering costs
// no allocation: the longest is the machine-code answer. A plain value.
class ReplyDatagram {
public:
    static constexpr std::size_t CAPACITY = MACHINE_CODE_OFFSET + MACHINE_CODE_SIZE;

    ReplyDatagram() = default;
    // Bytes beyond CAPACITY are not kept.
    ReplyDatagram(std::initializer_list<std::uint8_t> bytes) noexcept { Append(bytes); }

    void Append(std::span<const std::uint8_t> bytes) noexcept {
        const std::size_t n = std::min(bytes.size(), CAPACITY - size_);
        std::copy_n(bytes.begin(), n, bytes_.begin() + size_);
        size_ += n;
    }
    void Append(std::initializer_list<std::uint8_t> bytes) noexcept {
        Append(std::span(bytes.begin(), bytes.size()));
    }

    [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept {
        return std::span(bytes_).first(size_);
    }
    [[nodiscard]] std::span<std::uint8_t> Bytes() noexcept {
        return std::span(bytes_).first(size_);
    }

private:
    std::array<std::uint8_t, CAPACITY> bytes_{};
    std::size_t size_ = 0;
};

}  // namespace korvane::devsim
