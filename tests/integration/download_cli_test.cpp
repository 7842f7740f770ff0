// `korvane-cli download` as an operator runs it, against the device simulator
// on loopback: what it prints, its exit code, and what reaches the device.
// Each TEST has its own device address 127.0.4.x.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/hex.hpp"
#include "devsim/device_simulator.hpp"
#include "download/md5_context.hpp"
#include "support/child_process.hpp"
#include "support/run_process.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::BinPath;
using testing::ProcessResult;
using testing::StartDevice;
using testing::TempDir;

ProcessResult Download(const std::vector<std::string>& args) {
    std::vector<std::string> all{"download"};
    all.insert(all.end(), args.begin(), args.end());
    return testing::RunCli(all, {.timeout = 60s});
}

TEST(CliDownload, SucceedsAndPrintsTheResult) {
    auto device = StartDevice("127.0.4.1");
    const TempDir dir;
    const auto bytes = testing::SampleBytes(20000);
    const auto file = dir.WriteFile("fw.zip", bytes).string();
    const ProcessResult run = Download({"--ip", "127.0.4.1", file});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "Succeed to download\n");
    // Not a terminal: plain progress lines, the last one complete.
    EXPECT_NE(run.err.find("100%  19.53 KiB / 19.53 KiB"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\r'), std::string::npos);
    ASSERT_TRUE(device->WaitForTransfers(1, 5s));
    EXPECT_EQ(device->Transfers()[0].image, bytes);
}

TEST(CliDownload, JsonDescribesTheDownload) {
    auto device = StartDevice("127.0.4.2");
    const TempDir dir;
    const auto bytes = testing::SampleBytes(8001);
    const auto file = dir.WriteFile("fw.zip", bytes).string();
    const ProcessResult run = Download({"--json", "--quiet", "--ip", "127.0.4.2", file});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string prefix = "{\"address\":\"127.0.4.2\",\"file\":\"" + file +
                               "\",\"length\":8001,\"md5\":\"" + ToHex(Md5Context::Of(bytes)) +
                               "\",\"datagrams\":4,\"acknowledged\":4,\"result\":\"succeeded\","
                               "\"reason\":null,\"seconds\":";
    EXPECT_EQ(run.out.substr(0, prefix.size()), prefix) << run.out;
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1);  // one object, one line
}

// Bad input: the message on stderr, exit code 2, and nothing reaches the device.
void ExpectRefused(const std::string& address, const std::vector<std::string>& args,
                   const std::string& message) {
    auto device = StartDevice(address);
    const ProcessResult run = Download(args);
    EXPECT_EQ(run.exit_code, 2) << run.out << run.err;
    EXPECT_EQ(run.err.substr(0, message.size()), message) << run.err;
    EXPECT_EQ(run.out, "");
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(device->Received().empty());
}

TEST(CliDownload, EmptyPathIsRefused) {
    ExpectRefused("127.0.4.3", {"--ip", "127.0.4.3", ""}, "Please select firmware!");
    ExpectRefused("127.0.4.3", {"--ip", "127.0.4.3"}, "Please select firmware!");
}

TEST(CliDownload, MissingFileIsRefused) {
    const TempDir dir;
    ExpectRefused("127.0.4.4", {"--ip", "127.0.4.4", (dir.Path() / "nothing.zip").string()},
                  "Firmware is not exist, please select firmare again.");
}

TEST(CliDownload, EmptyAddressIsRefused) {
    const TempDir dir;
    const auto file = dir.WriteFile("fw.zip", testing::SampleBytes(10)).string();
    ExpectRefused("127.0.4.5", {"--ip", "", file}, "IP is empty");
    ExpectRefused("127.0.4.5", {file}, "IP is empty");
}

TEST(CliDownload, AddressThatDoesNotParseIsRefusedNotBroadcast) {
    const TempDir dir;
    const auto file = dir.WriteFile("fw.zip", testing::SampleBytes(10)).string();
    ExpectRefused("127.0.4.6", {"--ip", "abc", file}, "IP is invalid");
    ExpectRefused("127.0.4.6", {"--ip", "127.0.4.256", file}, "IP is invalid");
}

TEST(CliDownload, FolderIsRefusedAsUnreadable) {
    const TempDir dir;
    ExpectRefused("127.0.4.7", {"--ip", "127.0.4.7", dir.Path().string()},
                  "Failed to read firmware!");
}

TEST(CliDownload, FileOfFourGibibytesIsRefused) {
    const TempDir dir;
    const auto file = dir.WriteFile("large.zip", {});
    std::filesystem::resize_file(file, std::uintmax_t{1} << 32);  // sparse
    ExpectRefused("127.0.4.8", {"--ip", "127.0.4.8", file.string()}, "Firmware is too large!");
}

TEST(CliDownload, RefusalFailsWithExitCodeOne) {
    auto device = StartDevice("127.0.4.9", {.refuse_nth = 2});
    const TempDir dir;
    const auto file = dir.WriteFile("fw.zip", testing::SampleBytes(20000)).string();
    const ProcessResult run = Download({"--quiet", "--ip", "127.0.4.9", file});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "Failed to download\n");
    EXPECT_EQ(run.err,
              "korvane-cli: 127.0.4.9: refused by the device at datagram 1 (sequence 1)\n");
    EXPECT_EQ(device->Received().size(), 2u);
}

TEST(CliDownload, MissingReplyFailsWithExitCodeOne) {
    auto device = StartDevice("127.0.4.10", {.drop_reply_nth = 3});
    const TempDir dir;
    const auto file = dir.WriteFile("fw.zip", testing::SampleBytes(20000)).string();
    const ProcessResult run = Download({"--json", "--ip", "127.0.4.10", file});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.out.find("\"acknowledged\":2,\"result\":\"failed\",\"reason\":\"timed out "
                           "waiting for datagram 2 (sequence 2)\""),
              std::string::npos)
        << run.out;
    EXPECT_EQ(device->Received().size(), 3u);
}

// Ctrl-C acts like the window's close box: the waiting sender wakes at once.
TEST(CliDownload, CtrlCStopsPromptlyWithExitCode130) {
    auto device = StartDevice("127.0.4.11", {.drop_reply_nth = 2});
    const TempDir dir;
    const auto file = dir.WriteFile("fw.zip", testing::SampleBytes(20000)).string();
    testing::ChildProcess cli({BinPath("korvane-cli"), "download", "--ip", "127.0.4.11", file});
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (device->Received().size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(device->Received().size(), 2u);
    std::this_thread::sleep_for(100ms);
    const auto interrupted = std::chrono::steady_clock::now();
    cli.Signal(SIGINT);
    const ProcessResult run = cli.Finish(10s);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 2s);
    EXPECT_EQ(run.exit_code, 130) << run.err;
    EXPECT_EQ(run.out, "Failed to download\n");
    EXPECT_NE(run.err.find("cancelled at datagram 1 (sequence 1)"), std::string::npos) << run.err;
    EXPECT_EQ(device->Received().size(), 2u);
}

}  // namespace
}  // namespace korvane
