// The one path from a firmware file to the datagrams a download sends:
// loading exactly what the file held, every byte of every datagram, and MD5.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/hex.hpp"
#include "base/messages.hpp"
#include "download/md5_context.hpp"
#include "download/packet_queue.hpp"
#include "support/sample_bytes.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

namespace korvane {
namespace {

using testing::Hex;
using testing::TempDir;
using Bytes = std::vector<std::uint8_t>;

const std::string MODULE = "44 72 69 76 65 72 4D 61 6E 61 67 65 72";  // "DriverManager"

// Header, chunks of 8000 bytes in file order, end, each numbered with the
// count before it; every byte of the small ones spelled out.
TEST(FirmwareQueue, FilesGoOutInNumberedChunks) {
    const TempDir dir;
    const std::string empty_md5(32, '0');
    // clang-format off
    const std::vector<std::pair<Bytes, std::vector<std::string>>> cases = {
        {{}, {"11 0000 00000000" + empty_md5 + MODULE, "13 0001 0000"}},
        {Hex("616263"), {"11 0000 00000003 900150983CD24FB0D6963F7D28E17F72" + MODULE,
                         "12 0001 0003 616263", "13 0002 0000"}},
        {testing::SampleBytes(1), {"11 0000 00000001", "12 0001 0001", "13 0002 0000"}},
        {testing::SampleBytes(8000), {"11 0000 00001F40", "12 0001 1F40", "13 0002 0000"}},
        {testing::SampleBytes(8001),
         {"11 0000 00001F41", "12 0001 1F40", "12 0002 0001", "13 0003 0000"}},
        {testing::SampleBytes(20000),
         {"11 0000 00004E20", "12 0001 1F40", "12 0002 1F40", "12 0003 0FA0", "13 0004 0000"}},
    };
    // clang-format on
    for (const auto& [file, prefixes] : cases) {
        const auto queue = LoadFirmware(dir.WriteFile("fw.zip", file)).queue;
        ASSERT_TRUE(queue && queue->size() == prefixes.size()) << file.size();
        EXPECT_EQ(DatagramCount(file.size()), prefixes.size());
        Bytes payload;
        for (std::size_t i = 0; i < prefixes.size(); ++i) {
            const Bytes wire = (*queue)[i].Bytes();
            const Bytes prefix = Hex(prefixes[i]);
            ASSERT_GE(wire.size(), prefix.size());
            EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), wire.begin()))
                << file.size() << " #" << i << ": " << ToHex(wire).substr(0, 80);
            EXPECT_EQ((*queue)[i].Sequence(), i);
            if (i > 0 && i + 1 < prefixes.size()) {
                payload.insert(payload.end(), wire.begin() + 5, wire.end());
            }
        }
        EXPECT_EQ(payload, file);
        const Bytes header = (*queue)[0].Bytes();
        ASSERT_EQ(header.size(), 36u);
        EXPECT_TRUE(file.empty() || std::equal(header.begin() + 7, header.begin() + 23,
                                               Md5Context::Of(file).begin()));
    }
}

// Past 65535 the 16-bit field carries the low bits: the 65536th chunk says 0.
TEST(FirmwareQueue, SequenceFieldWrapsAfter65535) {
    const TempDir dir;
    const auto path = dir.WriteFile("sparse.zip", {});
    std::filesystem::resize_file(path, 65535ULL * 8000 + 1);
    const FirmwareLoad load = LoadFirmware(path);
    ASSERT_TRUE(load.queue);
    const PacketQueue& queue = *load.queue;
    ASSERT_EQ(queue.size(), 65538u);
    EXPECT_EQ(queue[65535].Bytes(), Hex("12 FFFF 1F40" + std::string(16000, '0')));
    EXPECT_EQ(queue[65536].Bytes(), Hex("12 0000 0001 00"));
    EXPECT_EQ(queue[65537].Bytes(), Hex("13 0001 0000"));
}

TEST(FirmwareLoad, RefusesWhatIsNotAFileAsItWasAtOpen) {
    const TempDir dir;
    const DownloadRefusal unreadable{messages::FIRMWARE_UNREADABLE};
    const std::vector<std::tuple<std::filesystem::path, LoadStatus, DownloadRefusal>> cases = {
        {dir.Path() / "gone.zip", LoadStatus::NotFound, unreadable},
        {dir.Path(), LoadStatus::Unreadable, unreadable},
    };
    for (const auto& [path, status, refusal] : cases) {
        const FirmwareLoad load = LoadFirmware(path);
        EXPECT_EQ(load.status, status) << path;
        EXPECT_EQ(load.refusal, refusal) << path;
        EXPECT_FALSE(load.queue) << path;
    }
}

// A file that shrinks or grows between open and read is never sent padded or
// cut; one that reports no size but has content (as /proc files do) is not
// sent as empty.
TEST(FirmwareLoad, RefusesAFileThatChangedSizeWhileRead) {
    const TempDir dir;
    const std::size_t big = std::size_t{8} << 20;
    for (const auto& [size, now] : std::vector<std::pair<std::size_t, std::size_t>>{
             {100, 99}, {100, 101}, {big, big - 1}, {big, big + 1}, {0, 1}}) {
        const auto path = dir.WriteFile("fw.zip", testing::SampleBytes(size));
        FirmwareFile file = OpenFirmwareFile(path);
        ASSERT_EQ(file.status, LoadStatus::Loaded);
        std::filesystem::resize_file(path, now);
        FirmwareImage image;
        EXPECT_EQ(image.Load(std::move(file)), LoadStatus::Changed) << size << " to " << now;
        EXPECT_TRUE(image.Data().empty());
        EXPECT_EQ(image.Length(), 0u);
    }
}

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
