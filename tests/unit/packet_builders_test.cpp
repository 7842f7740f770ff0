#include "link/packet_builders.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/hex.hpp"
#include "link/protocol.hpp"
#include "support/wire_bytes.hpp"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Hex;
using testing::Wire;

struct WireCase {
    std::string name;
    std::unique_ptr<PacketRecord> record;
    std::string expected_hex;
    std::uint16_t sequence;
};

TEST(PacketBuilders, DatagramsMatchTheDeviceFormatByteForByte) {
    const Digest abc_md5{0x90, 0x01, 0x50, 0x98, 0x3C, 0xD2, 0x4F, 0xB0,
                         0xD6, 0x96, 0x3F, 0x7D, 0x28, 0xE1, 0x7F, 0x72};
    const Bytes abc{'a', 'b', 'c'};
    std::vector<WireCase> cases;
    cases.push_back({"end seq 5", BuildEndPacket(5), "13 00 05 00 00", 5});
    cases.push_back({"end seq 300", BuildEndPacket(300), "13 01 2C 00 00", 300});
    cases.push_back({"data abc", BuildDataPacket(1, abc), "12 00 01 00 03 61 62 63", 1});
    cases.push_back({"header abc", BuildHeaderPacket(0, 3, abc_md5),
                     "11 00 00 00 00 00 03 90 01 50 98 3C D2 4F B0 D6 96 3F 7D 28 E1 7F 72 "
                     "44 72 69 76 65 72 4D 61 6E 61 67 65 72",
                     0});
    cases.push_back({"header empty file", BuildHeaderPacket(0, 0, Digest{}),
                     "11 0000 00000000 00000000000000000000000000000000 "
                     "4472697665724D616E61676572",
                     0});
    cases.push_back({"end of empty file", BuildEndPacket(1), "13 00 01 00 00", 1});
    cases.push_back({"header 20000", BuildHeaderPacket(0, 20000, Digest{}),
                     "11 0000 00004E20 00000000000000000000000000000000 "
                     "4472697665724D616E61676572",
                     0});
    // The field carries the low 16 bits of the count.
    cases.push_back({"end seq 65537", BuildEndPacket(65537), "13 00 01 00 00", 1});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToHex(Wire(c.record)), ToHex(Hex(c.expected_hex)));
        EXPECT_EQ(c.record->Length(), Hex(c.expected_hex).size());
        EXPECT_EQ(c.record->Sequence(), c.sequence);
    }
}

TEST(PacketBuilders, FullDataChunkIs8005BytesWithItsPayload) {
    Bytes payload(MAX_DATA_PAYLOAD);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    const Bytes wire = Wire(BuildDataPacket(2, payload));
    ASSERT_EQ(wire.size(), 8005u);
    EXPECT_THAT(Bytes(wire.begin(), wire.begin() + 5),
                ::testing::ElementsAre(0x12, 0, 2, 0x1F, 0x40));
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), wire.begin() + 5));
}

TEST(PacketBuilders, MaintenanceRequestsAreFiveFixedBytes) {
    EXPECT_THAT(RESTORE_IP_REQUEST, ::testing::ElementsAre(0x43, 0, 0, 0, 0));
    EXPECT_THAT(GET_MACHINE_CODE_REQUEST, ::testing::ElementsAre(0x81, 0, 0, 0, 0));
}

}  // namespace
}  // namespace korvane
