#include "download/download_inputs.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "download/firmware_image.hpp"
#include "download/firmware_packets.hpp"
#include "download/md5_context.hpp"
#include "support/sample_bytes.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using testing::TempDir;

TEST(DownloadInputs, AreCheckedInTheOrderTheOperatorMeetsThem) {
    const TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", testing::SampleBytes(10)).string();
    const std::string missing = (dir.Path() / "missing.zip").string();
    struct Case {
        std::string path;
        std::string address;
        std::optional<DownloadRefusal> refusal;
    };
    const std::vector<Case> cases = {
        // The path comes first, whatever the address; only its emptiness beeps.
        {"", "", DownloadRefusal{messages::SELECT_FIRMWARE, true}},
        {"", "abc", DownloadRefusal{messages::SELECT_FIRMWARE, true}},
        {missing, "", DownloadRefusal{messages::FIRMWARE_NOT_EXIST}},
        {missing, "127.0.3.1", DownloadRefusal{messages::FIRMWARE_NOT_EXIST}},
        {file, "", DownloadRefusal{messages::IP_EMPTY}},
        {file, "abc", DownloadRefusal{messages::IP_INVALID}},
        {file, "127.0.0.256", DownloadRefusal{messages::IP_INVALID}},
        {file, "127.0.3.1", std::nullopt},
        {file, "127.1", std::nullopt},
        {file, "255.255.255.255", std::nullopt},  // typed on purpose: allowed
        // A folder is "something at the path": loading refuses it later.
        {dir.Path().string(), "127.0.3.1", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("path '" + c.path + "' address '" + c.address + "'");
        EXPECT_EQ(CheckDownloadInputs(c.path, c.address).refusal, c.refusal);
    }
    const InputCheck ok = CheckDownloadInputs(file, "127.0.3.1");
    EXPECT_EQ(ok.inputs.firmware_path, file);
    EXPECT_EQ(ok.inputs.address.s_addr, htonl(0x7f000301));
}

std::vector<std::uint8_t> Sequences(const PacketQueue& queue) {
    std::vector<std::uint8_t> codes;
    for (const auto& record : queue) {
        codes.push_back(record->Datagram()[0]);
    }
    return codes;
}

TEST(FirmwarePackets, QueueHeaderChunksAndEnd) {
    const TempDir dir;
    struct Case {
        std::size_t size;
        std::size_t datagrams;
    };
    for (const Case c : {Case{0, 2}, Case{1, 3}, Case{8000, 3}, Case{8001, 4}, Case{20000, 5},
                         Case{1000000, 127}}) {
        SCOPED_TRACE(c.size);
        const auto bytes = testing::SampleBytes(c.size);
        const PacketsLoad load = LoadFirmwarePackets(dir.WriteFile("fw.bin", bytes));
        ASSERT_FALSE(load.refusal);
        ASSERT_EQ(load.packets.Count(), c.datagrams);
        EXPECT_EQ(load.packets.length, c.size);
        // An empty file keeps the all-zero digest; any other has its MD5.
        EXPECT_EQ(load.packets.digest, c.size == 0 ? Digest{} : Md5Context::Of(bytes));
        const PacketQueue& queue = *load.packets.queue;
        std::vector<std::uint8_t> expected(c.datagrams, PKT_DATA);
        expected.front() = PKT_HEADER;
        expected.back() = PKT_END;
        EXPECT_EQ(Sequences(queue), expected);
        // Byte for byte what the queue of a FirmwareImage of the file holds.
        FirmwareImage image;
        ASSERT_EQ(image.Load(dir.Path() / "fw.bin"), LoadStatus::Loaded);
        const PacketQueue from_image = BuildPacketQueue(image);
        ASSERT_EQ(from_image.size(), queue.size());
        for (std::size_t i = 0; i < queue.size(); ++i) {
            EXPECT_EQ(queue[i]->Sequence(), i);
            const auto sent = queue[i]->Datagram();
            const auto expected_bytes = from_image[i]->Datagram();
            EXPECT_TRUE(
                std::equal(sent.begin(), sent.end(), expected_bytes.begin(), expected_bytes.end()))
                << "datagram " << i;
        }
    }
}

TEST(FirmwarePackets, RefuseWhatCannotBeRead) {
    const TempDir dir;
    // A folder exists but is no firmware.
    EXPECT_EQ(LoadFirmwarePackets(dir.Path()).refusal,
              DownloadRefusal{messages::FIRMWARE_UNREADABLE});
    // A FIFO passes the existence check, but nothing is ever written to it.
    const auto fifo = dir.Path() / "fifo.zip";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(LoadFirmwarePackets(fifo).refusal, DownloadRefusal{messages::FIRMWARE_UNREADABLE});
    // Gone since it was checked.
    EXPECT_EQ(LoadFirmwarePackets(dir.Path() / "gone.bin").refusal,
              DownloadRefusal{messages::FIRMWARE_UNREADABLE});
    // 4 GiB (sparse, nothing is written) does not fit the header's length field.
    const auto large = dir.Path() / "large.bin";
    dir.WriteFile("large.bin", {});
    std::filesystem::resize_file(large, std::uintmax_t{1} << 32);
    EXPECT_EQ(LoadFirmwarePackets(large).refusal, DownloadRefusal{messages::FIRMWARE_TOO_LARGE});
    // Without read permission (root reads anything, so only as another user).
    if (::geteuid() != 0) {
        const auto locked = dir.WriteFile("locked.bin", testing::SampleBytes(5));
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        EXPECT_EQ(LoadFirmwarePackets(locked).refusal,
                  DownloadRefusal{messages::FIRMWARE_UNREADABLE});
    }
}

}  // namespace
}  // namespace korvane
