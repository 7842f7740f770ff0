#include "download/packet_queue.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "download/firmware_image.hpp"
#include "link/protocol.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t FieldU16(std::span<const std::uint8_t> datagram, std::size_t offset) {
    return static_cast<std::uint16_t>(datagram[offset] << 8 | datagram[offset + 1]);
}

std::uint32_t FieldU32(std::span<const std::uint8_t> datagram, std::size_t offset) {
    return std::uint32_t{FieldU16(datagram, offset)} << 16 | FieldU16(datagram, offset + 2);
}

struct QueueCase {
    std::size_t file_size;
    std::size_t chunks;
    std::size_t last_chunk;
};

// Loads a file of each size and checks every datagram of its queue: the
// header's fields, each chunk's sequence, length and bytes, and the end.
TEST(PacketQueue, CutsTheFileIntoNumberedChunks) {
    const QueueCase cases[] = {
        {0, 0, 0}, {1, 1, 1}, {8000, 1, 8000}, {8001, 2, 1}, {20000, 3, 4000},
    };
    testing::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_size);
        Bytes content(c.file_size);
        std::mt19937 random(static_cast<unsigned>(c.file_size));
        std::generate(content.begin(), content.end(), [&] { return random() & 0xff; });
        FirmwareImage image;
        ASSERT_EQ(image.Load(dir.WriteFile("image.zip", content)), LoadStatus::Loaded);

        const PacketQueue queue = BuildPacketQueue(image);
        ASSERT_EQ(queue.size(), c.chunks + 2);
        EXPECT_EQ(DatagramCount(c.file_size), queue.size());

        const auto header = queue.front()->Datagram();
        ASSERT_EQ(header.size(), HEADER_PACKET_SIZE);
        EXPECT_EQ(header[0], PKT_HEADER);
        EXPECT_EQ(FieldU16(header, 1), 0);
        EXPECT_EQ(queue.front()->Sequence(), 0);
        EXPECT_EQ(FieldU32(header, 3), c.file_size);
        EXPECT_TRUE(std::equal(image.Digest().begin(), image.Digest().end(),
                               header.begin() + HEADER_DIGEST_OFFSET));

        Bytes carried;
        for (std::size_t i = 1; i <= c.chunks; ++i) {
            SCOPED_TRACE(i);
            const auto datagram = queue[i]->Datagram();
            const std::size_t n = i == c.chunks ? c.last_chunk : MAX_DATA_PAYLOAD;
            ASSERT_EQ(datagram.size(), DATA_PREFIX_SIZE + n);
            EXPECT_EQ(queue[i]->Length(), DATA_PREFIX_SIZE + n);
            EXPECT_EQ(datagram[0], PKT_DATA);
            EXPECT_EQ(FieldU16(datagram, 1), i);
            EXPECT_EQ(queue[i]->Sequence(), i);
            EXPECT_EQ(FieldU16(datagram, 3), n);
            carried.insert(carried.end(), datagram.begin() + DATA_PREFIX_SIZE, datagram.end());
        }
        EXPECT_TRUE(carried == content);

        const auto end = queue.back()->Datagram();
        const auto k = static_cast<std::uint8_t>(c.chunks + 1);
        EXPECT_EQ(Bytes(end.begin(), end.end()), (Bytes{PKT_END, 0, k, 0, 0}));
        EXPECT_EQ(queue.back()->Sequence(), k);
    }
}

TEST(PacketQueue, EmptyFileGivesHeaderWithZeroLengthAndDigestThenEnd) {
    const FirmwareImage nothing;
    const PacketQueue queue = BuildPacketQueue(nothing);
    ASSERT_EQ(queue.size(), 2u);
    const auto header = queue[0]->Datagram();
    EXPECT_EQ(FieldU32(header, 3), 0u);
    EXPECT_TRUE(std::all_of(header.begin() + HEADER_DIGEST_OFFSET,
                            header.begin() + HEADER_MODULE_OFFSET, [](auto b) { return b == 0; }));
    const auto end = queue[1]->Datagram();
    EXPECT_EQ(Bytes(end.begin(), end.end()), (Bytes{PKT_END, 0, 1, 0, 0}));
}

TEST(PacketQueue, DatagramCount) {
    EXPECT_EQ(DatagramCount(0), 2u);
    EXPECT_EQ(DatagramCount(1), 3u);
    EXPECT_EQ(DatagramCount(8000), 3u);
    EXPECT_EQ(DatagramCount(8001), 4u);
    EXPECT_EQ(DatagramCount(20000), 5u);
    EXPECT_EQ(DatagramCount(0xFFFFFFFFu), 2u + 536871u);
}

// A zero-filled anonymous mapping that reserves nothing: pages that are only
// read all share the kernel's zero page, so half a gigabyte costs no memory.
class ZeroMapping {
public:
    explicit ZeroMapping(std::size_t size) : size_(size) {
        void* p =
            ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        data_ = p == MAP_FAILED ? nullptr : static_cast<const std::uint8_t*>(p);
    }
    ~ZeroMapping() {
        if (data_ != nullptr) {
            ::munmap(const_cast<std::uint8_t*>(data_), size_);
        }
    }
    ZeroMapping(const ZeroMapping&) = delete;
    ZeroMapping& operator=(const ZeroMapping&) = delete;

    [[nodiscard]] std::span<const std::uint8_t> View() const { return {data_, size_}; }
    [[nodiscard]] bool Valid() const { return data_ != nullptr; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_;
};

// More than 65,535 chunks: the 16-bit sequence field carries the low 16 bits
// of the count, so it wraps through 0. Each record is looked at as it is
// built and dropped at once.
TEST(PacketQueue, SequenceWrapsPast65535) {
    constexpr std::size_t CHUNKS = 65538;
    constexpr std::size_t LENGTH = (CHUNKS - 1) * MAX_DATA_PAYLOAD + 1;  // 524,296,001 bytes
    const ZeroMapping file(LENGTH);
    ASSERT_TRUE(file.Valid());

    std::vector<std::uint16_t> sequences;  // as on the wire
    sequences.reserve(CHUNKS + 2);
    std::vector<std::unique_ptr<PacketRecord>> kept;  // the header, the last chunk, the end
    std::size_t carried = 0;
    std::size_t wrong = 0;
    Digest digest{};
    digest[0] = 0xAB;
    ForEachDatagram(static_cast<std::uint32_t>(LENGTH), digest, file.View(),
                    [&](std::unique_ptr<PacketRecord> record) {
                        const auto datagram = record->Datagram();
                        const std::uint16_t wire = FieldU16(datagram, 1);
                        if (wire != record->Sequence()) {
                            ++wrong;
                        }
                        if (datagram[0] == PKT_DATA) {
                            carried += FieldU16(datagram, 3);
                            if (datagram.size() != DATA_PREFIX_SIZE + FieldU16(datagram, 3)) {
                                ++wrong;
                            }
                        }
                        sequences.push_back(wire);
                        if (sequences.size() == 1 || sequences.size() > CHUNKS) {
                            kept.push_back(std::move(record));
                        }
                    });
    EXPECT_EQ(wrong, 0u);
    ASSERT_EQ(sequences.size(), CHUNKS + 2);
    EXPECT_EQ(sequences.size(), DatagramCount(LENGTH));
    EXPECT_EQ(carried, LENGTH);
    for (std::size_t i = 0; i < sequences.size(); ++i) {
        ASSERT_EQ(sequences[i], static_cast<std::uint16_t>(i)) << "datagram " << i;
    }
    // Around the wrap: chunks 65535, 65536 and 65537 carry 65535, 0 and 1.
    EXPECT_EQ(sequences[65535], 65535);
    EXPECT_EQ(sequences[65536], 0);
    EXPECT_EQ(sequences[65537], 1);
    // The last chunk (1 byte) is 65538 → 2, the end datagram 65539 → 3.
    EXPECT_EQ(sequences[CHUNKS], 2);
    EXPECT_EQ(sequences.back(), 3);

    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(FieldU32(kept[0]->Datagram(), 3), LENGTH);
    EXPECT_EQ(kept[0]->Datagram()[HEADER_DIGEST_OFFSET], 0xAB);
    const auto last = kept[1]->Datagram();
    EXPECT_EQ(Bytes(last.begin(), last.end()), (Bytes{PKT_DATA, 0, 2, 0, 1, 0}));
    const auto end = kept[2]->Datagram();
    EXPECT_EQ(Bytes(end.begin(), end.end()), (Bytes{PKT_END, 0, 3, 0, 0}));
}

}  // namespace
}  // namespace korvane
