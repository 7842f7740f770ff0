// The two maintenance exchanges against the simulated device on loopback:
// one request, one wait of at most 5 s, and what the operator is told.
// Addresses 127.0.5.x.
#include "link/maintenance_commands.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "base/messages.hpp"
#include "devsim/device_simulator.hpp"
#include "download/download_worker.hpp"
#include "download/notification_queue.hpp"
#include "link/device_address.hpp"
#include "link/machine_code_text.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
const std::string WORKED = "11223344-5566-7788-6272-61636B6C6531";

std::optional<std::string> ShownCode(NotificationQueue& sink) {
    std::optional<std::string> shown;
    while (const auto n = sink.TryPop()) {
        if (n->code == UM_MACHINE_CODE) {
            shown = FormatMachineCode(n->first, n->second);
        }
    }
    return shown;
}

// What the operator is told for each reply is checked through the window; a
// refused restore also asks a running download to stop.
TEST(MaintenanceCommands, RefusedRestoreSetsTheAbortFlag) {
    auto device = testing::StartDevice("127.0.5.1", {.refuse_nth = 1});
    NotificationQueue sink;
    DeviceLink link(sink);
    const CommandOutcome outcome = RestoreIp(link, "127.0.5.1");
    EXPECT_EQ(outcome.status, CommandStatus::NoReply);
    EXPECT_EQ(outcome.message, messages::RESTORE_IP_FAILED);
    EXPECT_TRUE(link.Abort().load());
    EXPECT_EQ(device->Received(),
              (std::vector<std::vector<std::uint8_t>>{{PKT_RESTORE_IP, 0, 0, 0, 0}}));
}

// A machine code that comes after the wait gave up is still shown while the
// message box is open, but satisfies neither the next request nor the next
// download's header.
TEST(MaintenanceCommands, LateReplySatisfiesNothingThatFollows) {
    auto device = testing::StartDevice("127.0.5.21", {.reply_delay = 5500ms});
    NotificationQueue sink;
    DeviceLink link(sink);
    const CommandOutcome first = GetMachineCode(
        link, "127.0.5.21", [](const CommandOutcome&) { std::this_thread::sleep_for(1500ms); });
    EXPECT_EQ(first.status, CommandStatus::NoReply);
    EXPECT_EQ(ShownCode(sink), WORKED);
    EXPECT_EQ(RestoreIp(link, "127.0.5.21").status, CommandStatus::NoReply);

    const testing::TempDir dir;
    DownloadWorker worker(link, *ParseDeviceAddress("127.0.5.21"),
                          LoadFirmware(dir.WriteFile("empty.zip", {})).queue);
    ASSERT_TRUE(worker.Start());
    worker.Join();
    EXPECT_EQ(worker.Outcome()->result, DownloadResult::TimedOut);
    EXPECT_EQ(worker.Outcome()->acknowledged, 0u);
}

// A command and a download of the same link wait on events of their own:
// abandoning the download does not answer a restore the device ignores.
TEST(MaintenanceCommands, AbandonedDownloadDoesNotAnswerACommand) {
    auto device = testing::StartDevice("127.0.5.31", {.drop_reply_nth = 3});
    NotificationQueue sink;
    DeviceLink link(sink);
    const testing::TempDir dir;
    DownloadWorker worker(
        link, *ParseDeviceAddress("127.0.5.31"),
        LoadFirmware(dir.WriteFile("a.zip", std::vector<std::uint8_t>(9000))).queue);
    ASSERT_TRUE(worker.Start());
    auto restore = std::async(std::launch::async, [&] { return RestoreIp(link, "127.0.5.32"); });
    std::this_thread::sleep_for(500ms);
    worker.Abandon();
    EXPECT_EQ(restore.get().status, CommandStatus::NoReply);
}

}  // namespace
}  // namespace korvane
