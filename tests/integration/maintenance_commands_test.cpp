// The two maintenance exchanges against a scripted device on loopback:
// one request, one wait of at most 5 s, and what the operator is told.
// Addresses 127.0.5.x.
#include "link/maintenance_commands.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "base/messages.hpp"
#include "download/download_worker.hpp"
#include "link/device_address.hpp"
#include "link/machine_code_text.hpp"
#include "support/recording_sink.hpp"
#include "support/scripted_device.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::Hex;
using testing::RecordingSink;
using testing::ScriptedDevice;
using Clock = std::chrono::steady_clock;
using Command = CommandOutcome (*)(DeviceLink&, std::string_view, const ShowOutcome&);

std::optional<std::string> ShownCode(const RecordingSink& sink) {
    for (const auto& n : sink.Posted()) {
        if (n.code == UM_MACHINE_CODE) {
            return FormatMachineCode(n.first, n.second);
        }
    }
    return std::nullopt;
}

// Each row: a command, the device's answer (none: silence), what the operator
// is told and sees, whether it took the full wait, and the AbortFlag after.
TEST(MaintenanceCommands, RepliesDecideWhatTheOperatorIsTold) {
    struct Case {
        Command command;
        std::optional<std::string> reply;
        CommandStatus status;
        std::string_view message;
        std::optional<std::string> code;
        bool full_wait;
        bool aborted;
    };
    const std::string worked = "11223344-5566-7788-6272-61636B6C6531";
    const auto answered = CommandStatus::Answered;
    const auto none = CommandStatus::NoReply;
    // clang-format off
    const std::vector<Case> cases = {
        {GetMachineCode, "81 00 00 06 00 0E 11 22 33 44 55 66 77 88", answered, {}, worked, false, false},
        {GetMachineCode, "81 00 00 15", answered, {}, {}, false, false},
        {GetMachineCode, "81 00 00 06 00 00 01 02 03 04 05 06 07 08", answered, {}, {}, false, false},
        {GetMachineCode, "81 00 00 06 00 0F 01 02 03 04 05 06 07 08", answered, {}, {}, false, false},
        {GetMachineCode, {}, none, messages::MACHINE_CODE_NO_REPLY, {}, true, false},
        {RestoreIp, "43 00 00 06", answered, messages::RESTORE_IP_SUCCEEDED, {}, false, false},
        {RestoreIp, "43 00 00 15", none, messages::RESTORE_IP_FAILED, {}, true, true},
        {RestoreIp, {}, none, messages::RESTORE_IP_FAILED, {}, true, false},
    };
    // clang-format on
    std::vector<std::future<void>> runs;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            const Case& c = cases[i];
            const std::string address = "127.0.5." + std::to_string(1 + i);
            ScriptedDevice device(address,
                                  {{c.reply ? std::optional(Hex(*c.reply)) : std::nullopt}});
            RecordingSink sink;
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
            ASSERT_EQ(device.Received().size(), 1u) << i;
            EXPECT_EQ(device.Received()[0],
                      Hex(c.command == RestoreIp ? "43 00 00 00 00" : "81 00 00 00 00"));
        }));
    }
    for (auto& run : runs) {
        run.get();
    }
}

TEST(MaintenanceCommands, CancelEndsTheWaitAtOnce) {
    ScriptedDevice device("127.0.5.20", {{std::nullopt}});
    RecordingSink sink;
    DeviceLink link(sink);
    std::thread closer([&] {
        std::this_thread::sleep_for(200ms);
        link.Ack().Cancel();
    });
    const auto start = Clock::now();
    const CommandOutcome outcome = RestoreIp(link, "127.0.5.20");
    closer.join();
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(outcome.status, CommandStatus::Cancelled);
    EXPECT_EQ(outcome.message, messages::RESTORE_IP_FAILED);
}

// A machine code that comes after the wait gave up is still shown while the
// message box is open, but satisfies neither the next request nor the next
// download's header.
TEST(MaintenanceCommands, LateReplySatisfiesNothingThatFollows) {
    const auto code = Hex("81 00 00 06 00 0E 11 22 33 44 55 66 77 88");
    ScriptedDevice device("127.0.5.21", {{code, 5500ms}, {std::nullopt}, {std::nullopt}});
    RecordingSink sink;
    DeviceLink link(sink);
    const CommandOutcome first = GetMachineCode(
        link, "127.0.5.21", [](const CommandOutcome&) { std::this_thread::sleep_for(1500ms); });
    EXPECT_EQ(first.status, CommandStatus::NoReply);
    EXPECT_EQ(ShownCode(sink), "11223344-5566-7788-6272-61636B6C6531");
    EXPECT_EQ(RestoreIp(link, "127.0.5.21").status, CommandStatus::NoReply);

    const testing::TempDir dir;
    DownloadWorker worker(link, *ParseDeviceAddress("127.0.5.21"),
                          LoadFirmware(dir.WriteFile("empty.zip", {})).queue);
    ASSERT_TRUE(worker.Start());
    worker.Join();
    EXPECT_EQ(worker.Outcome()->result, DownloadResult::TimedOut);
    EXPECT_EQ(worker.Outcome()->acknowledged, 0u);
}

}  // namespace
}  // namespace korvane
