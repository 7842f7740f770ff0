// What the simulated device answers, byte by byte, and what it keeps.
#include "devsim/device_responder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/hex.hpp"
#include "devsim/transfer_json.hpp"
#include "download/md5_context.hpp"
#include "frontend/json_text.hpp"
#include "link/packet_builders.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

namespace korvane::devsim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using korvane::testing::Hex;
using korvane::testing::Wire;

constexpr MachineCode CODE{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

std::optional<Bytes> Reply(DeviceResponder& device, const Bytes& request, bool refuse = false) {
    return device.Respond(request, refuse).reply;
}

TEST(DeviceResponder, AnswersEveryRequestAsTheDeviceDoes) {
    DeviceResponder device(CODE, {});
    const Bytes file{'a', 'b', 'c'};
    EXPECT_EQ(Reply(device, Wire(BuildHeaderPacket(0, 3, Md5Context::Of(file)))),
              Hex("11 00 00 06"));
    EXPECT_EQ(Reply(device, Wire(BuildDataPacket(1, file))), Hex("12 00 01 06"));
    EXPECT_EQ(Reply(device, Wire(BuildEndPacket(2))), Hex("13 00 02 06"));
    EXPECT_EQ(Reply(device, Hex("43 00 00 00 00")), Hex("43 00 00 06"));
    EXPECT_EQ(Reply(device, Hex("81 00 00 00 00")),
              Hex("81 00 00 06 00 0E 11 22 33 44 55 66 77 88"));
    EXPECT_EQ(Reply(device, Hex("81 00 00 00 00"), true), Hex("81 00 00 15"));
    EXPECT_EQ(Reply(device, Hex("43 00 00 00 00"), true), Hex("43 00 00 15"));
    // Not for this device: no reply at all.
    EXPECT_EQ(Reply(device, Bytes{}), std::nullopt);
    EXPECT_EQ(Reply(device, Hex("10 00 00 06")), std::nullopt);
    EXPECT_EQ(Reply(device, Hex("44 00 00 00 00")), std::nullopt);
}

TEST(DeviceResponder, SequenceBytesOfTheRequestAreEchoed) {
    DeviceResponder device(CODE, {});
    EXPECT_EQ(Reply(device, Wire(BuildHeaderPacket(0, 0, Digest{}))), Hex("11 00 00 06"));
    EXPECT_EQ(Reply(device, Wire(BuildEndPacket(300))), Hex("13 01 2C 06"));
}

TEST(DeviceResponder, RefusesMalformedAndOutOfPlaceRequests) {
    DeviceResponder device(CODE, {});
    // Nothing in progress: nowhere to put data, nothing to end.
    EXPECT_EQ(Reply(device, Hex("12 00 01 00 01 AA")), Hex("12 00 01 15"));
    EXPECT_EQ(Reply(device, Hex("13 00 02 00 00")), Hex("13 00 02 15"));
    // A header too short to carry the length and the digest.
    EXPECT_EQ(Reply(device, Hex("11 00 00 00 00 00 03")), Hex("11 00 00 15"));
    ASSERT_EQ(Reply(device, Wire(BuildHeaderPacket(0, 1, Md5Context::Of(Bytes{0xAA})))),
              Hex("11 00 00 06"));
    // A length field that does not match the payload, and a datagram too short for one.
    EXPECT_EQ(Reply(device, Hex("12 00 01 00 02 AA")), Hex("12 00 01 15"));
    EXPECT_EQ(Reply(device, Hex("12 00 01")), Hex("12 00 01 15"));
    EXPECT_EQ(Reply(device, Hex("12 00 01 00 01 AA")), Hex("12 00 01 06"));
    const auto end = device.Respond(Hex("13 00 02 00 00"), false);
    EXPECT_EQ(end.reply, Hex("13 00 02 06"));
    ASSERT_TRUE(end.finished.has_value());
    EXPECT_EQ(end.finished->image, Bytes{0xAA});
}

TEST(DeviceResponder, ARefusedRequestChangesNothing) {
    DeviceResponder device(CODE, {});
    const Bytes file{1, 2, 3, 4};
    EXPECT_EQ(Reply(device, Wire(BuildHeaderPacket(0, 4, Digest{})), true), Hex("11 00 00 15"));
    EXPECT_EQ(Reply(device, Wire(BuildDataPacket(1, file))), Hex("12 00 01 15"))
        << "the refused header started no transfer";
    ASSERT_EQ(Reply(device, Wire(BuildHeaderPacket(0, 4, Md5Context::Of(file)))),
              Hex("11 00 00 06"));
    EXPECT_EQ(Reply(device, Wire(BuildDataPacket(1, Bytes{9, 9})), true), Hex("12 00 01 15"));
    EXPECT_EQ(Reply(device, Wire(BuildDataPacket(1, file))), Hex("12 00 01 06"));
    EXPECT_EQ(Reply(device, Wire(BuildEndPacket(2)), true), Hex("13 00 02 15"));
    const auto end = device.Respond(Wire(BuildEndPacket(2)), false);
    EXPECT_EQ(end.reply, Hex("13 00 02 06")) << "the refused end did not end the transfer";
    ASSERT_TRUE(end.finished.has_value());
    EXPECT_EQ(end.finished->image, file);
}

TEST(DeviceResponder, WritesAGoodImageUnderItsDigestAndNothingElse) {
    const testing::TempDir dir;
    DeviceResponder device(CODE, dir.Path());
    const Bytes file{'f', 'i', 'r', 'm'};
    ASSERT_TRUE(Reply(device, Wire(BuildHeaderPacket(0, 4, Md5Context::Of(file)))));
    ASSERT_TRUE(Reply(device, Wire(BuildDataPacket(1, file))));
    const auto good = device.Respond(Wire(BuildEndPacket(2)), false);
    ASSERT_TRUE(good.finished.has_value());
    const auto expected_path = dir.Path() / (ToHex(Md5Context::Of(file)) + ".bin");
    EXPECT_EQ(good.finished->path, expected_path);
    std::ifstream in(expected_path, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), file);
    EXPECT_EQ(TransferJsonLine(*good.finished),
              "{\"length\":4,\"md5\":\"" + ToHex(Md5Context::Of(file)) +
                  "\",\"verdict\":\"ok\",\"path\":\"" + expected_path.string() + "\"}");

    Digest wrong = Md5Context::Of(file);
    wrong[0] ^= 0xFF;
    ASSERT_TRUE(Reply(device, Wire(BuildHeaderPacket(0, 4, wrong))));
    ASSERT_TRUE(Reply(device, Wire(BuildDataPacket(1, Bytes{'b', 'a', 'd', '!'}))));
    const auto bad = device.Respond(Wire(BuildEndPacket(2)), false);
    EXPECT_EQ(bad.reply, Hex("13 00 02 15"));
    ASSERT_TRUE(bad.finished.has_value());
    EXPECT_TRUE(bad.finished->path.empty());
    EXPECT_EQ(TransferJsonLine(*bad.finished),
              "{\"length\":4,\"md5\":\"" + ToHex(Md5Context::Of(Bytes{'b', 'a', 'd', '!'})) +
                  "\",\"verdict\":\"mismatch\",\"path\":\"\"}");
    // Only the good image is in the folder, and no temporary file is left.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(DeviceResponder, RefusesTheEndWhenTheImageCannotBeWritten) {
    // A folder that does not exist fails for root too (a read-only one would not).
    const testing::TempDir dir;
    DeviceResponder device(CODE, dir.Path() / "missing" / "folder");
    ASSERT_TRUE(Reply(device, Wire(BuildHeaderPacket(0, 0, Digest{}))));
    const auto end = device.Respond(Wire(BuildEndPacket(1)), false);
    EXPECT_EQ(end.reply, Hex("13 00 01 15"));
    ASSERT_TRUE(end.finished.has_value());
    EXPECT_EQ(end.finished->verdict, TransferVerdict::WriteFailed);
    EXPECT_FALSE(end.finished->ok);
    EXPECT_FALSE(end.finished->write_error.empty());
    EXPECT_NE(TransferJsonLine(*end.finished).find("\"verdict\":\"write-failed\",\"path\":\"\""),
              std::string::npos);
}

TEST(TransferJson, EscapesWhatJsonCannotHoldAsItIs) {
    EXPECT_EQ(JsonString("a\"b\\c\nd\te\x01/\xe4\xb8\x80"),
              "\"a\\\"b\\\\c\\nd\\te\\u0001/\xe4\xb8\x80\"");
}

}  // namespace
}  // namespace korvane::devsim
