#include "download/md5_context.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace korvane {
namespace {

// Loads one little-endian word without aliasing tricks; compilers turn this
// into a single load on little-endian machines.
inline std::uint32_t LoadLE32(const std::uint8_t* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    return v;
}

}  // namespace

void Md5Context::Init() noexcept {
    state_ = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    bit_count_ = 0;
    buffer_.fill(0);
}

void Md5Context::Update(std::span<const std::uint8_t> input) noexcept {
    if (input.empty()) {
        return;  // its data() may be null, which memcpy must never see
    }
    std::size_t fill = static_cast<std::size_t>((bit_count_ >> 3) % BLOCK_SIZE);
    bit_count_ += static_cast<std::uint64_t>(input.size()) << 3;
    const std::uint8_t* p = input.data();
    std::size_t left = input.size();

    if (fill != 0) {
        const std::size_t take = std::min(left, BLOCK_SIZE - fill);
        std::memcpy(buffer_.data() + fill, p, take);
        p += take;
        left -= take;
        fill += take;
        if (fill < BLOCK_SIZE) {
            return;
        }
        Transform(buffer_.data(), 1);
    }
    const std::size_t whole = left / BLOCK_SIZE;
    if (whole != 0) {
        Transform(p, whole);
        p += whole * BLOCK_SIZE;
        left -= whole * BLOCK_SIZE;
    }
    if (left != 0) {
        std::memcpy(buffer_.data(), p, left);
    }
}

void Md5Context::Final(Digest& out) noexcept {
    std::array<std::uint8_t, 8> count_bytes{};
    for (std::size_t i = 0; i < 8; ++i) {
        count_bytes[i] = static_cast<std::uint8_t>(bit_count_ >> (8 * i));
    }
    const std::size_t fill = static_cast<std::size_t>((bit_count_ >> 3) % BLOCK_SIZE);
    std::array<std::uint8_t, BLOCK_SIZE> padding{};
    padding[0] = 0x80;
    const std::size_t pad = fill < 56 ? 56 - fill : 120 - fill;
    Update(std::span(padding).first(pad));
    Update(count_bytes);
    for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t b = 0; b < 4; ++b) {
            out[4 * i + b] = static_cast<std::uint8_t>(state_[i] >> (8 * b));
        }
    }
    // Keep no trace of the message, and be ready for the next one.
    state_.fill(0);
    buffer_.fill(0);
    Init();
}

Digest Md5Context::Of(std::span<const std::uint8_t> input) noexcept {
    Md5Context context;
    context.Update(input);
    Digest digest{};
    context.Final(digest);
    return digest;
}

namespace {

// The four steps of RFC 1321, each a = b + ((a + f(b, c, d) + x + t) <<< s).
// MD5 is one long dependency chain: every step needs the `b` that the step
// before it produced. So each step first adds everything that does not depend
// on b (the message word, the constant and any part of f without b) and
// leaves only the last operations of f, the rotation and the final add on the
// chain. The functions are the RFC's, in equivalent forms.

// F = (b & c) | (~b & d), as d ^ (b & (c ^ d)).
inline void StepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t x, std::uint32_t t, int s) noexcept {
    a += x + t;
    a += d ^ (b & (c ^ d));
    a = std::rotl(a, s) + b;
}

// G = (b & d) | (c & ~d). The two terms never share a set bit, so the OR is a
// sum, and the term without b is added early.
inline void StepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t x, std::uint32_t t, int s) noexcept {
    a += x + t + (c & ~d);
    a += b & d;
    a = std::rotl(a, s) + b;
}

// H = b ^ c ^ d.
inline void StepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t x, std::uint32_t t, int s) noexcept {
    a += x + t;
    a += b ^ (c ^ d);
    a = std::rotl(a, s) + b;
}

// I = c ^ (b | ~d).
inline void StepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t x, std::uint32_t t, int s) noexcept {
    a += x + t;
    a += c ^ (b | ~d);
    a = std::rotl(a, s) + b;
}

}  // namespace

void Md5Context::Transform(const std::uint8_t* blocks, std::size_t count) noexcept {
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count != 0; --count, blocks += BLOCK_SIZE) {
        // Message words are read where they are used, straight from the input.
        const auto x = [blocks](int i) { return LoadLE32(blocks + 4 * i); };
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        StepF(a, b, c, d, x(0), 0xd76aa478, 7);
        StepF(d, a, b, c, x(1), 0xe8c7b756, 12);
        StepF(c, d, a, b, x(2), 0x242070db, 17);
        StepF(b, c, d, a, x(3), 0xc1bdceee, 22);
        StepF(a, b, c, d, x(4), 0xf57c0faf, 7);
        StepF(d, a, b, c, x(5), 0x4787c62a, 12);
        StepF(c, d, a, b, x(6), 0xa8304613, 17);
        StepF(b, c, d, a, x(7), 0xfd469501, 22);
        StepF(a, b, c, d, x(8), 0x698098d8, 7);
        StepF(d, a, b, c, x(9), 0x8b44f7af, 12);
        StepF(c, d, a, b, x(10), 0xffff5bb1, 17);
        StepF(b, c, d, a, x(11), 0x895cd7be, 22);
        StepF(a, b, c, d, x(12), 0x6b901122, 7);
        StepF(d, a, b, c, x(13), 0xfd987193, 12);
        StepF(c, d, a, b, x(14), 0xa679438e, 17);
        StepF(b, c, d, a, x(15), 0x49b40821, 22);

        StepG(a, b, c, d, x(1), 0xf61e2562, 5);
        StepG(d, a, b, c, x(6), 0xc040b340, 9);
        StepG(c, d, a, b, x(11), 0x265e5a51, 14);
        StepG(b, c, d, a, x(0), 0xe9b6c7aa, 20);
        StepG(a, b, c, d, x(5), 0xd62f105d, 5);
        StepG(d, a, b, c, x(10), 0x02441453, 9);
        StepG(c, d, a, b, x(15), 0xd8a1e681, 14);
        StepG(b, c, d, a, x(4), 0xe7d3fbc8, 20);
        StepG(a, b, c, d, x(9), 0x21e1cde6, 5);
        StepG(d, a, b, c, x(14), 0xc33707d6, 9);
        StepG(c, d, a, b, x(3), 0xf4d50d87, 14);
        StepG(b, c, d, a, x(8), 0x455a14ed, 20);
        StepG(a, b, c, d, x(13), 0xa9e3e905, 5);
        StepG(d, a, b, c, x(2), 0xfcefa3f8, 9);
        StepG(c, d, a, b, x(7), 0x676f02d9, 14);
        StepG(b, c, d, a, x(12), 0x8d2a4c8a, 20);

        StepH(a, b, c, d, x(5), 0xfffa3942, 4);
        StepH(d, a, b, c, x(8), 0x8771f681, 11);
        StepH(c, d, a, b, x(11), 0x6d9d6122, 16);
        StepH(b, c, d, a, x(14), 0xfde5380c, 23);
        StepH(a, b, c, d, x(1), 0xa4beea44, 4);
        StepH(d, a, b, c, x(4), 0x4bdecfa9, 11);
        StepH(c, d, a, b, x(7), 0xf6bb4b60, 16);
        StepH(b, c, d, a, x(10), 0xbebfbc70, 23);
        StepH(a, b, c, d, x(13), 0x289b7ec6, 4);
        StepH(d, a, b, c, x(0), 0xeaa127fa, 11);
        StepH(c, d, a, b, x(3), 0xd4ef3085, 16);
        StepH(b, c, d, a, x(6), 0x04881d05, 23);
        StepH(a, b, c, d, x(9), 0xd9d4d039, 4);
        StepH(d, a, b, c, x(12), 0xe6db99e5, 11);
        StepH(c, d, a, b, x(15), 0x1fa27cf8, 16);
        StepH(b, c, d, a, x(2), 0xc4ac5665, 23);

        StepI(a, b, c, d, x(0), 0xf4292244, 6);
        StepI(d, a, b, c, x(7), 0x432aff97, 10);
        StepI(c, d, a, b, x(14), 0xab9423a7, 15);
        StepI(b, c, d, a, x(5), 0xfc93a039, 21);
        StepI(a, b, c, d, x(12), 0x655b59c3, 6);
        StepI(d, a, b, c, x(3), 0x8f0ccc92, 10);
        StepI(c, d, a, b, x(10), 0xffeff47d, 15);
        StepI(b, c, d, a, x(1), 0x85845dd1, 21);
        StepI(a, b, c, d, x(8), 0x6fa87e4f, 6);
        StepI(d, a, b, c, x(15), 0xfe2ce6e0, 10);
        StepI(c, d, a, b, x(6), 0xa3014314, 15);
        StepI(b, c, d, a, x(13), 0x4e0811a1, 21);
        StepI(a, b, c, d, x(4), 0xf7537e82, 6);
        StepI(d, a, b, c, x(11), 0xbd3af235, 10);
        StepI(c, d, a, b, x(2), 0x2ad7d2bb, 15);
        StepI(b, c, d, a, x(9), 0xeb86d391, 21);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_ = {a, b, c, d};
}

}  // namespace korvane
