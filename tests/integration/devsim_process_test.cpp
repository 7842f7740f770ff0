// korvane-devsim as a program: output, faults, exit codes. At 127.0.92.20-22.
#include <gtest/gtest.h>
#include <signal.h>

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

std::vector<std::string> Devsim(std::vector<std::string> args) {
    args.insert(args.begin(), BinPath("korvane-devsim"));
    return args;
}

// `replies` after the three that --garbage sends first (the oversized one shows as EE).
Replies Garbled(Replies replies) {
    const Bytes& r = replies.front();
    replies.insert(replies.begin(), {{r[0], r[1], r[2]}, {0x10, r[1], r[2], 6}, {0xEE}});
    return replies;
}

TEST(DevsimProcess, ServesReportsAndExitsAsDocumented) {
    const LoopbackSocket taken("127.0.92.20", DEVICE_PORT);
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> refusals = {
        {{"--machine-code", "11223344"}, 2, ""},
        {{"--refuse", "0"}, 2, ""},
        {{"--bind", "abc"}, 1, "'abc' is not an IPv4 address"},
        {{"--bind", "127.0.92.20"}, 1, "cannot bind 127.0.92.20:21818: Address already in use"},
    };
    for (const auto& [args, code, err] : refusals) {
        const ProcessResult result = RunProcess(Devsim(args));
        EXPECT_EQ(result.exit_code, code) << args[0];
        EXPECT_TRUE(err.empty() || result.err == "korvane-devsim: " + err + "\n") << result.err;
    }
    EXPECT_NE(RunProcess(Devsim({"--help"})).out.find("--refuse-end"), std::string::npos);

    // A good transfer: one JSON line naming the image written; SIGTERM ends it with 0.
    const TempDir dir;
    LoopbackSocket client;
    const auto ask = [&client](const std::string& device, std::span<const std::uint8_t> request) {
        EXPECT_TRUE(client.SendTo(device, DEVICE_PORT, request));
        return client.ReceiveUntilQuiet(300ms);
    };
    ChildProcess plain(Devsim({"--bind", "127.0.92.21", "--out", (dir.Path() / "out").string()}));
    EXPECT_EQ(plain.WaitForLine(Stream::Err, "listening", 20s), "listening on 127.0.92.21:21818");
    EXPECT_EQ(ask("127.0.92.21", Hex(ABC_HEADER)), Replies{Hex("11 00 00 06")});
    EXPECT_EQ(ask("127.0.92.21", Hex(ABC_DATA)), Replies{Hex("12 00 01 06")});
    EXPECT_EQ(ask("127.0.92.21", Hex(ABC_END)), Replies{Hex("13 00 02 06")});
    const std::string md5(ABC_MD5);
    EXPECT_EQ(plain.ReadLine(Stream::Out, 5s),
              R"({"length":3,"md5":")" + md5 + R"(","verdict":"ok","path":")" +
                  (dir.Path() / "out" / (md5 + ".bin")).string() + R"("})");
    ASSERT_TRUE(plain.Signal(SIGTERM));
    EXPECT_EQ(plain.Wait(10s), 0);
    EXPECT_EQ(plain.ReadRest(Stream::Out, 1s), "");

    // Every fault flag at once; SIGINT ends it with 0.
    ChildProcess faulty(Devsim({"--bind", "127.0.92.22", "--machine-code", "0102030405060708",
                                "--refuse", "3", "--drop-reply", "4", "--delay", "10",
                                "--duplicate-acks", "--garbage", "--refuse-end"}));
    EXPECT_EQ(faulty.WaitForLine(Stream::Err, "listening", 20s), "listening on 127.0.92.22:21818");
    const Bytes code = Hex("81 00 00 06 00 0E 01 02 03 04 05 06 07 08");
    EXPECT_EQ(ask("127.0.92.22", Hex("10 00 00 00")), Replies{});  // not answered, but counted
    EXPECT_EQ(ask("127.0.92.22", GET_MACHINE_CODE_REQUEST), Garbled({code, code}));
    EXPECT_EQ(ask("127.0.92.22", GET_MACHINE_CODE_REQUEST), Garbled({Hex("81 00 00 15")}));
    EXPECT_EQ(ask("127.0.92.22", GET_MACHINE_CODE_REQUEST), Replies{});
    // Duplicated acknowledgements never make a refused end a success.
    const auto firmware = dir.WriteFile("abc.zip", Bytes{'a', 'b', 'c'});
    const ProcessResult download = RunCli({"download", "--ip", "127.0.92.22", firmware.string()});
    EXPECT_EQ(download.exit_code, 1);
    EXPECT_EQ(download.out, "Failed to download\n");
    // The refused end reported nothing; a new header replaces that transfer.
    EXPECT_EQ(ask("127.0.92.22", Hex(ABC_HEADER)), Garbled(Replies(2, Hex("11 00 00 06"))));
    EXPECT_EQ(ask("127.0.92.22", Hex("12 0002 0001 64")), Garbled({Hex("12 00 02 15")}));
    EXPECT_EQ(faulty.ReadLine(Stream::Out, 5s),
              R"({"length":0,"md5":"d41d8cd98f00b204e9800998ecf8427e",)"
              R"("verdict":"mismatch","path":""})");
    ASSERT_TRUE(faulty.Signal(SIGINT));
    EXPECT_EQ(faulty.Wait(10s), 0);
}

}  // namespace
}  // namespace korvane
