#include "link/maintenance_commands.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "base/messages.hpp"
#include "download/download_worker.hpp"
#include "link/device_address.hpp"
#include "link/device_link.hpp"
#include "link/machine_code_text.hpp"
#include "link/packet_builders.hpp"
#include "link/protocol.hpp"
#include "support/recording_sink.hpp"
#include "support/scripted_device.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::RecordingSink;
using testing::ScriptedDevice;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

ScriptedDevice::Reply Answer(Bytes bytes) {
    return {std::move(bytes), 0ms};
}
ScriptedDevice::Reply Silence() {
    return {std::nullopt, 0ms};
}

const Bytes MACHINE_CODE_REQUEST{0x81, 0, 0, 0, 0};
const Bytes RESTORE_REQUEST{0x43, 0, 0, 0, 0};

// What a front end would show for the machine code, or nothing.
std::optional<std::string> ShownCode(const RecordingSink& sink) {
    for (const auto& n : sink.Posted()) {
        if (n.code == UM_MACHINE_CODE)
            return FormatMachineCode(n.first, n.second);
    }
    return std::nullopt;
}

struct MachineCodeCase {
    const char* name;
    const char* address;
    Bytes reply;
    std::optional<std::string> shown;
};

// Every reply below ends the wait at once; only some of them carry a code.
TEST(MachineCode, RepliesDecideWhatIsShown) {
    const std::vector<MachineCodeCase> cases = {
        {"worked example",
         "127.0.5.1",
         {0x81, 0, 0, 6, 0, 0x0E, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
         "11223344-5566-7788-6272-61636B6C6531"},
        {"all zero",
         "127.0.5.2",
         {0x81, 0, 0, 6, 0, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0},
         "00000000-0000-0000-6272-61636B6C6531"},
        {"refused", "127.0.5.3", {0x81, 0, 0, 0x15}, std::nullopt},
        {"L = 0", "127.0.5.4", {0x81, 0, 0, 6, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, std::nullopt},
        {"L > length", "127.0.5.5", {0x81, 0, 0, 6, 0, 0x0F, 1, 2, 3, 4, 5, 6, 7, 8}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDevice device(c.address, {Answer(c.reply)});
        RecordingSink sink;
        DeviceLink link(sink);
        const auto start = Clock::now();
        const CommandOutcome outcome = GetMachineCode(link, c.address);
        EXPECT_LT(Clock::now() - start, 2s) << "a reply must end the wait at once";
        EXPECT_EQ(outcome.status, CommandStatus::Answered);
        EXPECT_TRUE(outcome.message.empty());
        EXPECT_EQ(ShownCode(sink), c.shown);
        EXPECT_FALSE(link.Abort().load()) << "a machine-code reply never aborts";
        EXPECT_THAT(device.Received(), ::testing::ElementsAre(MACHINE_CODE_REQUEST));
    }
}

TEST(MachineCode, NoReplyIsToldAfterTheFullWait) {
    ScriptedDevice device("127.0.5.6", {Silence()});
    RecordingSink sink;
    DeviceLink link(sink);
    const auto start = Clock::now();
    const CommandOutcome outcome = GetMachineCode(link, "127.0.5.6");
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 4500ms);
    EXPECT_LT(waited, 8s);
    EXPECT_EQ(outcome.status, CommandStatus::NoReply);
    EXPECT_EQ(outcome.message, messages::MACHINE_CODE_NO_REPLY);
    EXPECT_EQ(ShownCode(sink), std::nullopt);
}

TEST(RestoreIp, AcknowledgedIsASuccess) {
    ScriptedDevice device("127.0.5.7", {Answer({0x43, 0, 0, 6})});
    RecordingSink sink;
    DeviceLink link(sink);
    const CommandOutcome outcome = RestoreIp(link, "127.0.5.7");
    EXPECT_EQ(outcome.status, CommandStatus::Answered);
    EXPECT_EQ(outcome.message, messages::RESTORE_IP_SUCCEEDED);
    EXPECT_FALSE(link.Abort().load());
    EXPECT_TRUE(sink.Posted().empty());
    EXPECT_THAT(device.Received(), ::testing::ElementsAre(RESTORE_REQUEST));
}

TEST(RestoreIp, RefusalFailsAfterTheFullWaitAndLeavesTheAbortFlag) {
    ScriptedDevice device("127.0.5.8", {Answer({0x43, 0, 0, 0x15})});
    RecordingSink sink;
    DeviceLink link(sink);
    const auto start = Clock::now();
    const CommandOutcome outcome = RestoreIp(link, "127.0.5.8");
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 4500ms);
    EXPECT_LT(waited, 8s);
    EXPECT_EQ(outcome.status, CommandStatus::NoReply);
    EXPECT_EQ(outcome.message, messages::RESTORE_IP_FAILED);
    EXPECT_TRUE(link.Abort().load());
}

TEST(MaintenanceCommands, UnparsableAddressIsRefusedBeforeAnythingIsSent) {
    RecordingSink sink;
    DeviceLink link(sink);
    for (const char* text : {"abc", "", "1.2.3.256", "127.0.5.9.1"}) {
        SCOPED_TRACE(text);
        std::vector<CommandOutcome> shown;
        const auto start = Clock::now();
        const CommandOutcome restore =
            RestoreIp(link, text, [&](const CommandOutcome& o) { shown.push_back(o); });
        const CommandOutcome code = GetMachineCode(link, text);
        EXPECT_LT(Clock::now() - start, 1s);
        EXPECT_EQ(restore.status, CommandStatus::InvalidAddress);
        EXPECT_EQ(restore.message, messages::IP_INVALID);
        EXPECT_EQ(code.status, CommandStatus::InvalidAddress);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].message, messages::IP_INVALID);
    }
}

TEST(MaintenanceCommands, CancelEndsTheWaitAtOnce) {
    ScriptedDevice device("127.0.5.10", {Silence()});
    RecordingSink sink;
    DeviceLink link(sink);
    std::thread closer([&] {
        std::this_thread::sleep_for(200ms);
        link.Ack().Cancel();
    });
    const auto start = Clock::now();
    const CommandOutcome outcome = RestoreIp(link, "127.0.5.10");
    EXPECT_LT(Clock::now() - start, 3s);
    closer.join();
    EXPECT_EQ(outcome.status, CommandStatus::Cancelled);
    EXPECT_EQ(outcome.message, messages::RESTORE_IP_FAILED);
}

// A device that answers the machine-code request only after the wait has
// given up, and then stays silent.
std::vector<ScriptedDevice::Reply> LateMachineCodeThenSilence() {
    return {{Bytes{0x81, 0, 0, 6, 0, 0x0E, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 5500ms},
            Silence()};
}

// The request's wait runs out; the reply comes while the operator still reads
// the message, and is handled then: the code still shows.
void ReadMachineCodeThatComesLate(DeviceLink& link, const RecordingSink& sink,
                                  const char* address) {
    const CommandOutcome first = GetMachineCode(link, address, [](const CommandOutcome&) {
        std::this_thread::sleep_for(1500ms);  // the message box is open
    });
    ASSERT_EQ(first.status, CommandStatus::NoReply);
    ASSERT_EQ(ShownCode(sink), "11223344-5566-7788-6272-61636B6C6531");
}

// That late reply cannot satisfy the next request's wait.
TEST(MaintenanceCommands, LateReplyDoesNotSatisfyTheNextRequest) {
    ScriptedDevice device("127.0.5.11", LateMachineCodeThenSilence());
    RecordingSink sink;
    DeviceLink link(sink);
    ASSERT_NO_FATAL_FAILURE(ReadMachineCodeThatComesLate(link, sink, "127.0.5.11"));

    const auto start = Clock::now();
    const CommandOutcome second = RestoreIp(link, "127.0.5.11");
    EXPECT_GE(Clock::now() - start, 4500ms);
    EXPECT_EQ(second.status, CommandStatus::NoReply);
    EXPECT_EQ(second.message, messages::RESTORE_IP_FAILED);
}

// The same late reply, and then a download: its header's wait must not be
// satisfied by the reply the machine-code request no longer waited for.
TEST(MaintenanceCommands, LateReplyDoesNotSatisfyTheNextDownloadsHeader) {
    ScriptedDevice device("127.0.5.12", LateMachineCodeThenSilence());
    RecordingSink sink;
    DeviceLink link(sink);
    ASSERT_NO_FATAL_FAILURE(ReadMachineCodeThatComesLate(link, sink, "127.0.5.12"));

    auto queue = std::make_shared<PacketQueue>();
    queue->push_back(BuildHeaderPacket(0, 0, Digest{}));
    queue->push_back(BuildEndPacket(1));
    DownloadWorker worker(link, *ParseDeviceAddress("127.0.5.12"), queue);
    ASSERT_TRUE(worker.Start());
    worker.Join();
    const auto outcome = worker.Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->result, DownloadResult::TimedOut);
    EXPECT_EQ(outcome->failed_index, 0u);
    EXPECT_EQ(outcome->acknowledged, 0u);
    EXPECT_EQ(device.Received().size(), 2u) << "the request and the header; no end datagram";
}

}  // namespace
}  // namespace korvane
