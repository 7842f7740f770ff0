// The simulated device in-process (127.0.92.1) and korvane-devsim as a program:
// output, faults, exit codes (127.0.92.20-22).
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "devsim/device_simulator.hpp"
#include "link/protocol.hpp"
#include "support/child_process.hpp"
#include "support/loopback_socket.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using namespace korvane::testing;
using Bytes = std::vector<std::uint8_t>;
using Replies = std::vector<Bytes>;
using Stream = ChildProcess::Stream;

// `replies` after the three that --garbage sends first (the oversized one shows as EE).
Replies Garbled(Replies replies) {
    const Bytes& r = replies.front();
    replies.insert(replies.begin(), {{r[0], r[1], r[2]}, {0x10, r[1], r[2], 6}, {0xEE}});
    return replies;
}

TEST(DevsimProcess, ServesReportsAndExitsAsDocumented) {
    const std::string devsim = BinPath("korvane-devsim");
    const LoopbackSocket taken("127.0.92.20", DEVICE_PORT);
    // clang-format off
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> refusals = {
        {{devsim, "--help"}, 0, "  --refuse N                  Refuse the Nth"},  // no parser jargon
        {{devsim, "--machine-code", "11223344"}, 2, "--machine-code wants 16 hex digits"},
        {{devsim, "--refuse", "0"}, 2, "korvane-devsim: --refuse: datagrams are counted from 1, not 0\n"},
        {{devsim, "--bind", "127.0.0"}, 2, "korvane-devsim: --bind wants an IPv4 address, four numbers 0-255 such as 127.0.0.2, not '127.0.0'\n"},
        {{devsim, "--bind", "127.0.92.20", "--bogus"}, 2, "korvane-devsim: unknown option '--bogus'\n"},
        {{devsim, "--bind", "127.0.92.20"}, 1, "korvane-devsim: cannot bind 127.0.92.20:21818: Address already in use\n"},
    };
    // clang-format on
    for (const auto& [args, code, text] : refusals) {
        const ProcessResult result = RunProcess(args);
        EXPECT_EQ(result.exit_code, code) << args[1];
        EXPECT_NE((result.out + result.err).find(text), std::string::npos) << result.err;
    }

    // A good transfer: one JSON line naming the image written; SIGTERM ends it with 0.
    const TempDir dir;
    const std::string firmware = dir.WriteFile("abc.zip", Bytes{'a', 'b', 'c'}).string();
    ChildProcess plain({devsim, "--bind", "127.0.92.21", "--out", (dir.Path() / "out").string()});
    EXPECT_EQ(plain.WaitForLine(Stream::Err, "listening", 20s), "listening on 127.0.92.21:21818");
    EXPECT_EQ(
        RunProcess({BinPath("korvane-cli"), "download", "--ip", "127.0.92.21", firmware}).exit_code,
        0);
    const std::string md5(ABC_MD5);
    EXPECT_EQ(plain.WaitForLine(Stream::Out, "", 5s),
              R"({"length":3,"md5":")" + md5 + R"(","verdict":"ok","path":")" +
                  (dir.Path() / "out" / (md5 + ".bin")).string() + R"(","overtaken":0})");
    plain.Signal(SIGTERM);
    const auto [ended, nothing_more, ended_err] = plain.Finish(10s);
    EXPECT_EQ(std::pair(ended, nothing_more), std::pair(0, std::string()));

    // Every fault flag at once; SIGINT ends it with 0.
    ChildProcess faulty({devsim, "--bind", "127.0.92.22", "--machine-code", "0102030405060708",
                         "--refuse", "3", "--drop-reply", "4", "--delay", "10", "--duplicate-acks",
                         "--garbage", "--refuse-end"});
    EXPECT_EQ(faulty.WaitForLine(Stream::Err, "listening", 20s), "listening on 127.0.92.22:21818");
    LoopbackSocket client;
    const auto ask = [&client](std::span<const std::uint8_t> request) {  // every reply till quiet
        EXPECT_TRUE(client.SendTo(LoopbackAddress("127.0.92.22", DEVICE_PORT), request));
        Replies got;
        while (auto datagram = client.Receive(300ms)) {
            got.push_back(datagram->bytes.size() > 5200 ? Bytes{0xEE} : datagram->bytes);
        }
        return got;
    };
    const Bytes code = Hex("81 00 00 06 00 0E 01 02 03 04 05 06 07 08");
    EXPECT_EQ(ask(Hex("10 00 00 00")), Replies{});  // not answered, but counted
    EXPECT_EQ(ask(GET_MACHINE_CODE_REQUEST), Garbled({code, code}));
    EXPECT_EQ(ask(GET_MACHINE_CODE_REQUEST), Garbled({Hex("81 00 00 15")}));
    EXPECT_EQ(ask(GET_MACHINE_CODE_REQUEST), Replies{});
    // Duplicated acknowledgements never make a refused end a success.
    const ProcessResult download =
        RunProcess({BinPath("korvane-cli"), "download", "--ip", "127.0.92.22", firmware});
    EXPECT_EQ(download.exit_code, 1);
    EXPECT_NE(download.err.find("refused by the device at datagram 2 ("), std::string::npos);
    faulty.Signal(SIGINT);
    const auto [interrupted, reported, interrupted_err] =
        faulty.Finish(10s);  // the refused end: nothing
    EXPECT_EQ(std::pair(interrupted, reported), std::pair(0, std::string()));
}

TEST(DeviceSimulator, ForgetsReportedTransfersWithoutHistoryAndStopsDuringADelay) {
    devsim::DeviceSimulator device(
        {.bind_address = "127.0.92.1", .faults = {.reply_delay = 200ms}, .keep_history = false});
    std::atomic<int> reported{0};
    device.OnTransfer([&reported](const devsim::TransferRecord& record) {
        reported += record.verdict == devsim::TransferVerdict::Ok;
    });
    ASSERT_EQ(device.Start(), std::nullopt);
    LoopbackSocket client;
    for (const auto text : {ABC_HEADER, ABC_DATA, ABC_END}) {
        ASSERT_TRUE(client.SendTo(LoopbackAddress("127.0.92.1", DEVICE_PORT), Hex(text)));
        EXPECT_EQ(client.Receive(5s).value().bytes.at(3), REPLY_ACK);
    }
    ASSERT_TRUE(device.WaitForTransfers(1, 2s));
    EXPECT_EQ(reported.load(), 1);
    EXPECT_TRUE(device.Transfers().empty());
    EXPECT_TRUE(device.Received().empty());
    // A stop cuts a reply's delay short: that reply is never sent.
    ASSERT_TRUE(client.SendTo(LoopbackAddress("127.0.92.1", DEVICE_PORT), RESTORE_IP_REQUEST));
    std::this_thread::sleep_for(50ms);
    device.Stop();
    EXPECT_FALSE(client.Receive(500ms).has_value());
}

}  // namespace
}  // namespace korvane
