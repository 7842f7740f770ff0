#include "download/md5_context.hpp"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "base/hex.hpp"
#include "support/sample_bytes.hpp"

namespace korvane {
namespace {

std::string Md5Of(const std::string& text) {
    return ToHex(Md5Context::Of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

// RFC 1321's test suite, then lengths around the padding edges: Final pads
// within the last block below 56 bytes of fill and into one more block from 56.
TEST(Md5Context, KnownDigests) {
    const std::pair<std::string, std::string> rows[] = {
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
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    };
    for (const auto& [message, digest] : rows) {
        EXPECT_EQ(Md5Of(message), digest) << message.size() << " bytes";
    }
}

// One context digests a message split at every offset in turn: the pieces
// give the one-shot digest, and Final leaves the context ready for the next.
TEST(Md5Context, AnySplitOfTheMessageGivesTheSameDigest) {
    const auto message = testing::RandomBytes(200, 1);
    const std::span<const std::uint8_t> bytes(message);
    const Digest whole = Md5Context::Of(bytes);
    Md5Context context;
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        context.Update(bytes.first(cut));
        context.Update({});  // an empty piece, data() null, changes nothing
        context.Update(bytes.subspan(cut));
        Digest digest{};
        context.Final(digest);
        ASSERT_EQ(ToHex(digest), ToHex(whole)) << "cut at " << cut;
    }
}

// OpenSSL is the oracle of this test only: a large buffer in one Update.
TEST(Md5Context, LargeBufferMatchesOpenSsl) {
    const auto message = testing::RandomBytes((std::size_t{16} << 20) + 3, 16);
    Digest expected{};
    unsigned int size = 0;
    ASSERT_EQ(
        EVP_Digest(message.data(), message.size(), expected.data(), &size, EVP_md5(), nullptr), 1);
    EXPECT_EQ(ToHex(Md5Context::Of(message)), ToHex(expected));
}

}  // namespace
}  // namespace korvane
