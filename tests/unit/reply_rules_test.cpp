#include "link/reply_rules.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/hex.hpp"
#include "link/device_link.hpp"
#include "link/protocol.hpp"
#include "support/recording_sink.hpp"
#include "support/wire_bytes.hpp"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Hex;
using testing::RecordingSink;

const Notification ACKED{.code = UM_PACKET_ACKED};
Notification MachineCode(std::uint32_t first, std::uint32_t second) {
    return {.code = UM_MACHINE_CODE, .first = first, .second = second};
}

struct ReplyCase {
    std::string reply_hex;
    ReplyEffects expected;
};

TEST(ReplyRules, EveryReplyHasItsEffects) {
    const std::vector<ReplyCase> cases = {
        {"12 00 07 06", {.post = ACKED, .set_ack = true}},
        {"11 00 00 06", {.post = ACKED, .set_ack = true}},
        {"13 00 04 06 ff ff", {.post = ACKED, .set_ack = true}},
        {"11 00 00 15", {.set_abort = true}},
        {"13 00 04 00", {.set_abort = true}},
        {"12 00 07", {}},
        {"", {}},
        {"10 00 00 06", {}},
        {"44 00 00 06", {}},
        {"82 00 00 06", {}},
        {"43 00 00 06", {.set_ack = true}},
        {"43 00 00 15", {.set_abort = true}},
        {"81 00 00 06 00 08 01 02 03 04 05 06 07 08",
         {.post = MachineCode(0x04030201, 0x08070605), .set_ack = true}},
        {"81 00 00 06 00 0E 11 22 33 44 55 66 77 88",
         {.post = MachineCode(0x44332211, 0x88776655), .set_ack = true}},
        {"81 00 00 06 00 06 AA BB", {.post = MachineCode(0x0000BBAA, 0), .set_ack = true}},
        {"81 00 00 06 00 0F 01 02 03 04 05 06 07 08", {.set_ack = true}},
        {"81 00 00 06 00 00 01 02 03 04 05 06 07 08", {.set_ack = true}},
        {"81 00 00 15", {.set_ack = true}},
        // Acknowledged but too short to carry a declared length: nothing to post.
        {"81 00 00 06", {.set_ack = true}},
        {"81 00 00 06 00", {.set_ack = true}},
        // L counts the whole reply: a 6-byte reply may declare 6 and carries no code bytes.
        {"81 00 00 06 00 06", {.post = MachineCode(0, 0), .set_ack = true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply_hex);
        EXPECT_EQ(DecideReplyEffects(Hex(c.reply_hex)), c.expected);
    }
}

// Checks, from inside Post, that the waiting sender is not yet released.
class OrderCheckingSink : public NotificationSink {
public:
    explicit OrderCheckingSink(AckEvent*& ack) : ack_(ack) {}
    void Post(const Notification&) override {
        ack_released_before_post =
            ack_->WaitFor(std::chrono::milliseconds(0)) == AckWait::Acknowledged;
    }
    bool ack_released_before_post = true;

private:
    AckEvent*& ack_;
};

TEST(DeviceLink, PostsBeforeReleasingTheSender) {
    AckEvent* ack = nullptr;
    OrderCheckingSink sink(ack);
    DeviceLink link(sink);
    ack = &link.Ack();
    link.HandleDeviceReply(Hex("12 00 07 06"));
    EXPECT_FALSE(sink.ack_released_before_post);
    EXPECT_EQ(link.Ack().WaitFor(std::chrono::milliseconds(0)), AckWait::Acknowledged);
}

TEST(DeviceLink, RefusalAbortsWithoutReleasingTheSender) {
    RecordingSink sink;
    DeviceLink link(sink);
    link.HandleDeviceReply(Hex("11 00 00 15"));
    EXPECT_TRUE(link.Abort().load());
    EXPECT_EQ(link.Ack().WaitFor(std::chrono::milliseconds(0)), AckWait::TimedOut);
    EXPECT_TRUE(sink.Posted().empty());
}

TEST(DeviceLink, RefusedMachineCodeReleasesWithoutAbortOrPost) {
    RecordingSink sink;
    DeviceLink link(sink);
    link.HandleDeviceReply(Hex("81 00 00 15"));
    EXPECT_FALSE(link.Abort().load());
    EXPECT_TRUE(sink.Posted().empty());
    EXPECT_EQ(link.Ack().WaitFor(std::chrono::milliseconds(0)), AckWait::Acknowledged);
}

TEST(AckEvent, IsAutoResetAndCollapsesRepeatedSets) {
    AckEvent ack;
    ack.Set();
    ack.Set();
    EXPECT_EQ(ack.WaitFor(std::chrono::milliseconds(0)), AckWait::Acknowledged);
    EXPECT_EQ(ack.WaitFor(std::chrono::milliseconds(0)), AckWait::TimedOut);
}

TEST(AckEvent, ResetForgetsAPendingSet) {
    AckEvent ack;
    ack.Set();
    ack.Reset();
    EXPECT_EQ(ack.WaitFor(std::chrono::milliseconds(10)), AckWait::TimedOut);
}

TEST(AckEvent, CancelWakesAWaiterAtOnceAndStaysUntilCleared) {
    AckEvent ack;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ack.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ack.WaitFor(std::chrono::milliseconds(5000)), AckWait::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    canceller.join();
    ack.Set();  // a cancel wins over a pending acknowledgement
    EXPECT_EQ(ack.WaitFor(std::chrono::milliseconds(0)), AckWait::Cancelled);
    ack.ClearCancel();
    EXPECT_EQ(ack.WaitFor(std::chrono::milliseconds(0)), AckWait::Acknowledged);
}

TEST(AckEvent, WaitRunsOutAfterItsTimeout) {
    AckEvent ack;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ack.WaitFor(std::chrono::milliseconds(200)), AckWait::TimedOut);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_LT(waited, std::chrono::seconds(3));
}

}  // namespace
}  // namespace korvane
