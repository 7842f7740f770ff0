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
using devsim::FaultPlan;
using Clock = std::chrono::steady_clock;
using Command = CommandOutcome (*)(DeviceLink&, std::string_view, const ShowOutcome&);
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

// Each row: a command, the device's fault, what the operator is told and
// sees, whether it took the full wait, and the AbortFlag after.
TEST(MaintenanceCommands, RepliesDecideWhatTheOperatorIsTold) {
    struct Case {
        Command command;
        FaultPlan faults;
        CommandStatus status;
        std::string_view message;
        std::optional<std::string> code;
        bool full_wait;
        bool aborted;
    };
    const auto answered = CommandStatus::Answered;
    const auto none = CommandStatus::NoReply;
    const FaultPlan refuse{.refuse_nth = 1};
    const FaultPlan silent{.drop_reply_nth = 1};
    // clang-format off
    const std::vector<Case> cases = {
        {GetMachineCode, {}, answered, {}, WORKED, false, false},
        {GetMachineCode, refuse, answered, {}, {}, false, false},
        {GetMachineCode, silent, none, messages::MACHINE_CODE_NO_REPLY, {}, true, false},
        {RestoreIp, {}, answered, messages::RESTORE_IP_SUCCEEDED, {}, false, false},
        {RestoreIp, refuse, none, messages::RESTORE_IP_FAILED, {}, true, true},
        {RestoreIp, silent, none, messages::RESTORE_IP_FAILED, {}, true, false},
    };
    // clang-format on
    std::vector<std::future<void>> runs;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            const Case& c = cases[i];
            const std::string address = "127.0.5." + std::to_string(1 + i);
            auto device = testing::StartDevice(address, c.faults);
            NotificationQueue sink;
            DeviceLink link(sink);
            const auto start = Clock::now();
            const CommandOutcome outcome = c.command(link, address, {});
            const auto waited = Clock::now() - start;
            EXPECT_EQ(outcome.status, c.status) << i;
            EXPECT_EQ(outcome.message, c.message) << i;
            EXPECT_EQ(ShownCode(sink), c.code) << i;
            EXPECT_EQ(link.Abort().load(), c.aborted) << i;
            EXPECT_EQ(waited >= 4500ms, c.full_wait) << i;
            EXPECT_LT(waited, 8s) << i;
            const std::vector<std::uint8_t> request{
                c.command == RestoreIp ? PKT_RESTORE_IP : PKT_GET_MACHINE_CODE, 0, 0, 0, 0};
            EXPECT_EQ(device->Received(), std::vector<std::vector<std::uint8_t>>{request}) << i;
        }));
    }
    for (auto& run : runs) {
        run.get();
    }
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
