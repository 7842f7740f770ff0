#include "download/md5_context.hpp"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/hex.hpp"
#include "support/sample_bytes.hpp"

// OpenSSL is the oracle here and only here; the product never links it.
namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::RandomBytes;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Oracle(std::span<const std::uint8_t> bytes) {
    Digest digest{};
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_md5(), nullptr), 1);
    EXPECT_EQ(size, digest.size());
    return ToHex(digest);
}

std::string Ours(std::span<const std::uint8_t> bytes) {
    return ToHex(Md5Context::Of(bytes));
}

TEST(Md5Context, Rfc1321TestSuite) {
    const std::pair<std::string_view, std::string_view> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [message, digest] : suite) {
        SCOPED_TRACE(message);
        EXPECT_EQ(Ours(AsBytes(message)), digest);
    }
}

// Final pads into the same block below 56 bytes of fill and into a second
// block from 56 on.
TEST(Md5Context, PaddingBoundaries) {
    for (const std::size_t size : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u}) {
        SCOPED_TRACE(size);
        const Bytes message = RandomBytes(size, size);
        EXPECT_EQ(Ours(message), Oracle(message));
        const Bytes zeros(size, 0);
        EXPECT_EQ(Ours(zeros), Oracle(zeros));
    }
}

TEST(Md5Context, ContextIsReadyForTheNextMessageAfterFinal) {
    const Bytes first = RandomBytes(1000, 1);
    const Bytes second = RandomBytes(77, 2);
    Md5Context reused;
    Digest digest{};
    reused.Update(first);
    reused.Final(digest);
    EXPECT_EQ(ToHex(digest), Oracle(first));
    reused.Update(second);
    reused.Final(digest);
    EXPECT_EQ(ToHex(digest), Oracle(second));
    // Nothing digested at all after a Final: the digest of the empty message.
    reused.Final(digest);
    EXPECT_EQ(ToHex(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5Context, UpdateSplitAtEveryOffsetEqualsOneShot) {
    const Bytes message = RandomBytes(203, 3);
    const std::string expected = Oracle(message);
    const std::span<const std::uint8_t> all(message);
    for (std::size_t cut = 0; cut <= message.size(); ++cut) {
        SCOPED_TRACE(cut);
        Md5Context context;
        context.Update(all.first(cut));
        // An empty range (data() null) between the pieces changes nothing.
        context.Update(std::span<const std::uint8_t>());
        context.Update(all.subspan(cut));
        Digest digest{};
        context.Final(digest);
        EXPECT_EQ(ToHex(digest), expected);
    }
}

TEST(Md5Context, ByteByByteAndRandomPiecesEqualOneShot) {
    const Bytes message = RandomBytes(3000, 4);
    const std::string expected = Oracle(message);
    Md5Context context;
    Digest digest{};
    for (const std::uint8_t byte : message) {
        context.Update(std::span(&byte, 1));
    }
    context.Final(digest);
    EXPECT_EQ(ToHex(digest), expected);

    std::mt19937 random(5);
    for (int round = 0; round < 50; ++round) {
        std::span<const std::uint8_t> rest(message);
        while (!rest.empty()) {
            const std::size_t piece = std::min<std::size_t>(rest.size(), random() % 200);
            context.Update(rest.first(piece));
            rest = rest.subspan(piece);
        }
        context.Final(digest);
        ASSERT_EQ(ToHex(digest), expected) << "round " << round;
    }
}

TEST(Md5Context, RandomBuffersOfEveryLengthUpTo5000MatchOpenSsl) {
    const Bytes pool = RandomBytes(5000, 6);
    const std::span<const std::uint8_t> all(pool);
    for (std::size_t size = 0; size <= pool.size(); ++size) {
        // Vary the start too, so that the input is not always aligned.
        const std::size_t start = size % 7;
        const auto message = all.subspan(start, std::min(size, pool.size() - start));
        ASSERT_EQ(Ours(message), Oracle(message)) << "size " << message.size();
    }
}

TEST(Md5Context, LargeBuffersMatchOpenSsl) {
    for (const std::size_t size : {std::size_t{1} << 20, (std::size_t{16} << 20) + 3}) {
        SCOPED_TRACE(size);
        const Bytes message = RandomBytes(size, size);
        EXPECT_EQ(Ours(message), Oracle(message));
    }
}

}  // namespace
}  // namespace korvane
