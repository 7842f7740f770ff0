// `korvane-cli download` to several devices at once (127.0.6.x), each with its
// own link and endpoint, against in-process simulated devices.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devsim/device_simulator.hpp"
#include "support/run_process.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::ProcessResult;
using testing::SplitLines;
using testing::StartDevice;
using testing::TempDir;

// korvane-cli with `args`, run to its end (at most a minute).
ProcessResult Cli(const std::vector<std::string>& args) {
    return testing::RunCli(args, {.timeout = 60s});
}

TEST(FleetDownload, OneRefusingDeviceFailsOnlyItself) {
    auto first = StartDevice("127.0.6.1");
    auto refusing = StartDevice("127.0.6.2", {.refuse_nth = 3});
    auto third = StartDevice("127.0.6.3");
    const TempDir dir;
    const auto bytes = testing::SampleBytes(50000);
    const auto file = dir.WriteFile("fw.zip", bytes).string();
    const ProcessResult run =
        Cli({"download", "--ip", "127.0.6.1", "--ip", "127.0.6.2", "--ip", "127.0.6.3", file});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    const auto lines = SplitLines(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    EXPECT_EQ(lines[0].substr(0, 7), "ADDRESS");
    EXPECT_EQ(lines[1].substr(0, 22), "127.0.6.1  succeeded  ");
    EXPECT_EQ(lines[2].substr(0, 22), "127.0.6.2  failed     ");
    EXPECT_NE(lines[2].find("refused by the device at datagram 2 (sequence 2)"), std::string::npos);
    EXPECT_EQ(lines[3].substr(0, 22), "127.0.6.3  succeeded  ");
    EXPECT_EQ(lines[4], "Failed to download");
    for (auto* device : {first.get(), third.get()}) {
        ASSERT_TRUE(device->WaitForTransfers(1, 5s));
        EXPECT_EQ(device->Transfers()[0].image, bytes);
    }
    EXPECT_EQ(refusing->Received().size(), 3u);
    // One progress line for the fleet.
    EXPECT_NE(run.err.find("3 devices ["), std::string::npos) << run.err;
}

double SecondsOf(const ProcessResult& run) {
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    return run.seconds;
}

// The devices are served in parallel: three take about as long as one.
TEST(FleetDownload, ThreeDevicesTakeAboutTheTimeOfOne) {
    std::vector<std::unique_ptr<devsim::DeviceSimulator>> devices;
    for (const char* address : {"127.0.6.4", "127.0.6.5", "127.0.6.6", "127.0.6.7"}) {
        devices.push_back(StartDevice(address));
    }
    const TempDir dir;
    const auto file = dir.WriteFile("fw.zip", testing::SampleBytes(400000)).string();
    const auto targets = dir.Path() / "targets.txt";
    {
        std::ofstream out(targets);
        out << "# three of the rack\n127.0.6.4\n\n127.0.6.5   # spare\n127.0.6.6\n";
    }
    const double one = SecondsOf(Cli({"download", "--quiet", "--ip", "127.0.6.7", file}));
    const ProcessResult fleet = Cli({"download", "--quiet", "--targets", targets.string(), file});
    const double three = SecondsOf(fleet);
    std::printf("one device: %.2f s, three devices: %.2f s\n", one, three);
    EXPECT_LT(three, 3 * one + 2.0);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(devices[i]->WaitForTransfers(1, 5s));
        EXPECT_TRUE(devices[i]->Transfers()[0].ok);
    }
    EXPECT_EQ(SplitLines(fleet.out).back(), "Succeed to download");
}

// Every address is checked before anything is sent to any of them.
TEST(FleetDownload, OneBadAddressStopsTheWholeFleetBeforeSending) {
    auto device = StartDevice("127.0.6.10");
    const TempDir dir;
    const auto file = dir.WriteFile("fw.zip", testing::SampleBytes(1000)).string();
    const ProcessResult run = Cli({"download", "--ip", "127.0.6.10", "--ip", "bogus", file});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "IP is invalid: bogus\n");
    const ProcessResult twice = Cli({"download", "--ip", "127.0.6.10", "--ip", "127.0.1546", file});
    EXPECT_EQ(twice.exit_code, 2);
    const ProcessResult unreadable =
        Cli({"download", "--ip", "127.0.6.10", "--targets", (dir.Path() / "none").string(), file});
    EXPECT_EQ(unreadable.exit_code, 2);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(device->Received().empty());
}

}  // namespace
}  // namespace korvane
