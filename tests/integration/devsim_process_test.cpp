// korvane-devsim as a program: what it prints, how it stops, how it fails.
// Each TEST has its own address 127.0.2.x.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/hex.hpp"
#include "download/md5_context.hpp"
#include "download/packet_queue.hpp"
#include "link/protocol.hpp"
#include "support/child_process.hpp"
#include "support/loopback_socket.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::ChildProcess;
using testing::Hex;
using testing::LoopbackSocket;
using Stream = ChildProcess::Stream;

const std::string DEVSIM = std::string(KORVANE_BIN_DIR) + "/korvane-devsim";
// Start-up under the sanitizers can be slow on a busy machine.
constexpr auto READY_WAIT = 20s;

std::vector<std::string> Devsim(std::vector<std::string> args) {
    args.insert(args.begin(), DEVSIM);
    return args;
}

void ExpectReady(ChildProcess& devsim, const std::string& address) {
    const auto line = devsim.WaitForLine(Stream::Err, "listening on", READY_WAIT);
    ASSERT_TRUE(line.has_value()) << "devsim never became ready";
    EXPECT_EQ(*line, "listening on " + address + ":21818");
}

// Sends every datagram of `file` stop-and-wait by hand; the replies in order.
std::vector<Bytes> Transfer(const std::string& device, const Bytes& file) {
    LoopbackSocket client;
    std::vector<Bytes> replies;
    ForEachDatagram(static_cast<std::uint32_t>(file.size()), Md5Context::Of(file), file,
                    [&](std::unique_ptr<PacketRecord> record) {
                        EXPECT_TRUE(client.SendTo(device, DEVICE_PORT, record->Datagram()));
                        const auto reply = client.Receive(5s);
                        replies.push_back(reply ? reply->bytes : Bytes{});
                    });
    return replies;
}

TEST(DevsimProcess, PrintsOneJsonLinePerTransferAndExitsZeroOnSigterm) {
    const testing::TempDir dir;
    ChildProcess devsim(Devsim({"--bind", "127.0.2.30", "--out", (dir.Path() / "out").string()}));
    ExpectReady(devsim, "127.0.2.30");

    const Bytes file(20000, 0x5A);
    const auto replies = Transfer("127.0.2.30", file);
    EXPECT_EQ(replies,
              (std::vector<Bytes>{Hex("11 00 00 06"), Hex("12 00 01 06"), Hex("12 00 02 06"),
                                  Hex("12 00 03 06"), Hex("13 00 04 06")}));
    const std::string md5 = ToHex(Md5Context::Of(file));
    const auto path = dir.Path() / "out" / (md5 + ".bin");
    const auto line = devsim.ReadLine(Stream::Out, 5s);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, "{\"length\":20000,\"md5\":\"" + md5 + "\",\"verdict\":\"ok\",\"path\":\"" +
                         path.string() + "\"}");
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), file);

    // A second transfer with a wrong length is reported as a mismatch.
    LoopbackSocket client;
    ASSERT_TRUE(client.SendTo("127.0.2.30", DEVICE_PORT,
                              Hex("11 00 00 00 00 00 05" + std::string(58, '0'))));
    ASSERT_TRUE(client.Receive(5s).has_value());
    ASSERT_TRUE(client.SendTo("127.0.2.30", DEVICE_PORT, Hex("13 00 01 00 00")));
    EXPECT_EQ(client.ReceiveBytes(5s), Hex("13 00 01 15"));
    EXPECT_EQ(devsim.ReadLine(Stream::Out, 5s),
              "{\"length\":0,\"md5\":\"d41d8cd98f00b204e9800998ecf8427e\",\"verdict\":"
              "\"mismatch\",\"path\":\"\"}");

    ASSERT_TRUE(devsim.Signal(SIGTERM));
    EXPECT_EQ(devsim.Wait(10s), 0);
    EXPECT_EQ(devsim.ReadRest(Stream::Out, 1s), "");
}

TEST(DevsimProcess, ExitsZeroOnSigint) {
    ChildProcess devsim(Devsim({"--bind", "127.0.2.31"}));
    ExpectReady(devsim, "127.0.2.31");
    ASSERT_TRUE(devsim.Signal(SIGINT));
    EXPECT_EQ(devsim.Wait(10s), 0);
}

TEST(DevsimProcess, ExitsOneWithOneClearLineWhenTheAddressIsInUse) {
    const LoopbackSocket taken("127.0.2.32", DEVICE_PORT);
    ChildProcess devsim(Devsim({"--bind", "127.0.2.32"}));
    EXPECT_EQ(devsim.Wait(READY_WAIT), 1);
    EXPECT_EQ(devsim.ReadRest(Stream::Err, 2s),
              "korvane-devsim: cannot bind 127.0.2.32:21818: Address already in use\n");
}

TEST(DevsimProcess, ExitsOneWhenTheAddressIsNotLocal) {
    // Binding only: nothing is ever sent to this documentation address.
    ChildProcess devsim(Devsim({"--bind", "192.0.2.1"}));
    EXPECT_EQ(devsim.Wait(READY_WAIT), 1);
    EXPECT_EQ(devsim.ReadRest(Stream::Err, 2s),
              "korvane-devsim: cannot bind 192.0.2.1:21818: Cannot assign requested address\n");
}

TEST(DevsimProcess, FlagsSetTheMachineCodeAndTheFaults) {
    ChildProcess devsim(
        Devsim({"--bind", "127.0.2.33", "--machine-code", "0102030405060708", "--refuse", "2",
                "--drop-reply", "3", "--delay", "10", "--duplicate-acks", "--garbage"}));
    ExpectReady(devsim, "127.0.2.33");
    LoopbackSocket client;
    const auto replies = [&client] { return client.ReceiveUntilQuiet(300ms); };
    const Bytes garbage_1 = Hex("81 00 00");
    const Bytes garbage_2 = Hex("10 00 00 06");
    const Bytes code = Hex("81 00 00 06 00 0E 01 02 03 04 05 06 07 08");
    ASSERT_TRUE(client.SendTo("127.0.2.33", DEVICE_PORT, GET_MACHINE_CODE_REQUEST));
    EXPECT_EQ(replies(), (std::vector<Bytes>{garbage_1, garbage_2, Bytes{0xEE}, code, code}));
    ASSERT_TRUE(client.SendTo("127.0.2.33", DEVICE_PORT, GET_MACHINE_CODE_REQUEST));
    EXPECT_EQ(replies(),
              (std::vector<Bytes>{garbage_1, garbage_2, Bytes{0xEE}, Hex("81 00 00 15")}));
    ASSERT_TRUE(client.SendTo("127.0.2.33", DEVICE_PORT, GET_MACHINE_CODE_REQUEST));
    EXPECT_TRUE(replies().empty());
    ASSERT_TRUE(devsim.Signal(SIGTERM));
    EXPECT_EQ(devsim.Wait(10s), 0);
}

TEST(DevsimProcess, HelpDocumentsEveryFlag) {
    ChildProcess devsim(Devsim({"--help"}));
    EXPECT_EQ(devsim.Wait(READY_WAIT), 0);
    const std::string help = devsim.ReadRest(Stream::Out, 2s);
    for (const char* flag : {"--bind", "--port", "--out", "--machine-code", "--refuse",
                             "--drop-reply", "--delay", "--duplicate-acks", "--garbage"}) {
        EXPECT_NE(help.find(flag), std::string::npos) << flag;
    }
    EXPECT_NE(help.find("\"verdict\""), std::string::npos);
}

TEST(DevsimProcess, ABadCommandLineIsAUsageError) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--machine-code", "11223344"}, {"--refuse", "0"}, {"--no-such-flag"}}) {
        ChildProcess devsim(Devsim(args));
        EXPECT_EQ(devsim.Wait(READY_WAIT), 2) << args[0];
    }
}

}  // namespace
}  // namespace korvane
