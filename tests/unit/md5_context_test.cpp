#include "download/md5_context.hpp"

#include <gtest/gtest.h>

#include <string>

#include "base/hex.hpp"
#include "support/sample_bytes.hpp"

namespace korvane {
namespace {

// RFC 1321 digests (the last spans two blocks), then lengths at the padding
// edges: Final pads within the last block below 56 bytes, into one more from 56.
TEST(Md5Context, KnownDigests) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    };
    for (const auto& [message, digest] : rows) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(message.data());
        EXPECT_EQ(ToHex(Md5Context::Of({data, message.size()})), digest) << message.size();
    }
}

// One context digests a message split at every offset in turn: the pieces
// give the one-shot digest, and Final leaves the context ready for the next.
TEST(Md5Context, AnySplitOfTheMessageGivesTheSameDigest) {
    const auto message = testing::SampleBytes(200, 1);
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

}  // namespace
}  // namespace korvane
