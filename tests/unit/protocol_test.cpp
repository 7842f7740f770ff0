// The device protocol's rules as tables: reply effects, which reply releases
// which wait, the operator's address text and the download's input checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.hpp"
#include "download/download_inputs.hpp"
#include "link/device_address.hpp"
#include "link/device_link.hpp"
#include "link/reply_rules.hpp"
#include "support/sample_bytes.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

namespace korvane {
namespace {

using testing::Hex;

const Notification ACKED{.code = UM_PACKET_ACKED};
Notification MachineCode(std::uint32_t first, std::uint32_t second) {
    return {.code = UM_MACHINE_CODE, .first = first, .second = second};
}

TEST(ReplyRules, EveryReplyHasItsEffects) {
    const std::vector<std::pair<std::string, ReplyEffects>> cases = {
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
        {"81 00 00 06 00", {.set_ack = true}},
        {"81 00 00 06 00 06", {.post = MachineCode(0, 0), .set_ack = true}},
    };
    for (const auto& [reply, effects] : cases) {
        EXPECT_EQ(DecideReplyEffects(Hex(reply)), effects) << reply;
    }
}

// Only the end's own code releases the end datagram; from a device that echoes
// sequences, only the outstanding datagram's own sequence releases its wait.
TEST(ReplyRules, WhatReleasesTheOutstandingDatagram) {
    struct Case {
        std::string reply;
        Outstanding outstanding;
        bool releases;             // from a device not known to echo sequences
        bool releases_if_echoing;  // from one that is
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"11 00 00 06", {PKT_HEADER, 0}, true, true},  {"13 00 09 06", {PKT_HEADER, 0}, true, false},
        {"11 00 00 06", {PKT_DATA, 1}, true, false},   {"12 00 01 06", {PKT_DATA, 1}, true, true},
        {"12 00 06 06", {PKT_DATA, 7}, true, false},   {"12 01 2C 06", {PKT_DATA, 300}, true, true},
        {"12 00 01 15", {PKT_DATA, 1}, false, false},  {"13 00 02 06", {PKT_END, 2}, true, true},
        {"13 00 01 06", {PKT_END, 2}, true, false},    {"12 00 02 06", {PKT_END, 2}, false, false},
        {"11 00 00 06", {PKT_END, 0}, false, false},   {"13 00 02 15", {PKT_END, 2}, false, false},
        {"43 00 00 06", {PKT_DATA, 0}, false, false},  {"81 00 00 06", {PKT_HEADER, 0}, false, false},
        {"12 00 01 06", {0, 1}, false, false},         {"13 00 02", {PKT_END, 2}, false, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(ReleasesDownloadWait(Hex(c.reply), c.outstanding, false), c.releases) << c.reply;
        EXPECT_EQ(ReleasesDownloadWait(Hex(c.reply), c.outstanding, true), c.releases_if_echoing)
            << c.reply;
    }
}

// A device is trusted to echo sequences once the replies to the header and the
// first data both carried their own; zeros, a constant, a late copy of the
// header's reply or a file without data teach nothing.
TEST(ReplyRules, ADeviceEchoesWhenHeaderAndFirstDataRepliesCarryTheirSequence) {
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, Outstanding, bool>> cases = {
        {"11 00 00 06", "12 00 01 06", {PKT_DATA, 1}, true},
        {"11 00 00 06", "12 00 00 06", {PKT_DATA, 1}, false},
        {"11 00 01 06", "12 00 01 06", {PKT_DATA, 1}, false},
        {"11 00 00 06", "11 00 00 06", {PKT_DATA, 1}, false},
        {"11 00 00 06", "13 00 01 06", {PKT_END, 1}, false},
    };
    // clang-format on
    for (const auto& [header_reply, second_reply, second, echoes] : cases) {
        SequenceEcho echo;
        echo.Released(0, {PKT_HEADER, 0}, Hex(header_reply));
        EXPECT_FALSE(echo.Learned());
        echo.Released(1, second, Hex(second_reply));
        echo.Released(2, {PKT_DATA, 2}, Hex("12 00 02 06"));
        EXPECT_EQ(echo.Learned(), echoes) << header_reply << " then " << second_reply;
    }
}

// The reply's notification stands in the queue before the sender is released.
TEST(ReplyRules, LinkPostsBeforeReleasingTheSender) {
    struct Probe final : NotificationSink {
        DeviceLink* link = nullptr;
        bool released_first = true;
        void Post(const Notification&) noexcept override {
            released_first =
                link->Ack().WaitFor(std::chrono::milliseconds(0)) == AckWait::Acknowledged;
        }
    } probe;
    DeviceLink link(probe);
    probe.link = &link;
    link.HandleDeviceReply(Hex("12 00 01 06"));
    EXPECT_FALSE(probe.released_first);
    EXPECT_EQ(link.Ack().WaitFor(std::chrono::milliseconds(0)), AckWait::Acknowledged);
}

TEST(DeviceAddress, OnlyAPlainDottedQuadIsAnAddress) {
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"127.0.0.1", "7f000001"}, {"192.168.1.88", "c0a80158"}, {"10.0.0.255", "0a0000ff"},
        {"255.255.255.255", "ffffffff"}, {"0.0.0.1", "00000001"}, {"1.2.3.0", "01020300"},
        {"0.0.0.0", ""}, {"127.0.78", ""}, {"127.1", ""}, {"0", ""}, {"", ""}, {"abc", ""},
        {"192.168.001.010", ""}, {"010.1.1.1", ""}, {"0x7f.0.0.1", ""}, {"127.0.0.256", ""},
        {"1000.0.0.1", ""}, {"127.0.0.5 junk", ""}, {"127.0.78.5 127.0.78.6", ""},
        {" 127.0.0.1", ""}, {"127.0.0.1 ", ""}, {"127.0.0.1.", ""}, {"127..0.1", ""},
        {"+1.2.3.4", ""}, {"1.2.3.-4", ""}, {std::string("1.2.3.4\0", 8), ""}, {"1.2.3.4\n", ""},
    };
    // clang-format on
    for (const auto& [text, hex] : cases) {
        const auto address = ParseDeviceAddress(text);
        const auto* bytes =
            reinterpret_cast<const std::uint8_t*>(address ? &address->s_addr : nullptr);
        EXPECT_EQ(address ? ToHex({bytes, 4}) : "", hex) << '"' << text << '"';
    }
}

// Path first (only its emptiness beeps), then the address; a folder passes
// here and is refused by the loader.
TEST(DownloadInputs, AreCheckedInTheOrderTheOperatorMeetsThem) {
    const testing::TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", testing::SampleBytes(10)).string();
    const std::string gone = (dir.Path() / "gone.zip").string();
    using R = std::optional<DownloadRefusal>;
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, R>> cases = {
        {"", "abc", DownloadRefusal{messages::SELECT_FIRMWARE, true}},
        {gone, "", DownloadRefusal{messages::FIRMWARE_NOT_EXIST}},
        {file, "", DownloadRefusal{messages::IP_EMPTY}},
        {file, "127.0.78", DownloadRefusal{messages::IP_INVALID}},
        {dir.Path().string(), "127.0.3.1", std::nullopt},
    };
    // clang-format on
    for (const auto& [path, address, refusal] : cases) {
        const InputCheck check = CheckDownloadInputs(path, address);
        EXPECT_EQ(check.refusal, refusal) << path << " / " << address;
        EXPECT_EQ(check.inputs.address.s_addr, refusal ? 0 : htonl(0x7f000301));
    }
}

}  // namespace
}  // namespace korvane
