// The device protocol's rules as tables: reply effects, which reply releases
// which wait, the operator's address text and the download's input checks.
#include "link/protocol.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.hpp"
#include "download/start_download.hpp"
#include "link/device_address.hpp"
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
// A copy of the header's reply that comes while the first data datagram waits
// is a copy, not that datagram's answer.
TEST(ReplyRules, ADeviceEchoesWhenHeaderAndFirstDataRepliesCarryTheirSequence) {
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, Outstanding, bool, bool>> cases = {
        {"11 00 00 06", "12 00 01 06", {PKT_DATA, 1}, true, false},
        {"11 00 00 06", "12 00 00 06", {PKT_DATA, 1}, false, false},
        {"11 00 01 06", "12 00 01 06", {PKT_DATA, 1}, false, false},
        {"11 00 00 06", "11 00 00 06", {PKT_DATA, 1}, false, true},
        {"11 00 01 06", "11 00 01 06", {PKT_DATA, 1}, false, false},
        {"11 00 00 06", "13 00 01 06", {PKT_END, 1}, false, false},
    };
    // clang-format on
    for (const auto& [header_reply, second_reply, second, echoes, repeat] : cases) {
        SequenceEcho echo;
        echo.Released(0, {PKT_HEADER, 0}, Hex(header_reply));
        EXPECT_FALSE(echo.Learned());
        EXPECT_EQ(echo.RepeatsHeaderReply(1, Hex(second_reply)), repeat) << second_reply;
        echo.Released(1, second, Hex(second_reply));
        echo.Released(2, {PKT_DATA, 2}, Hex("12 00 02 06"));
        EXPECT_EQ(echo.Learned(), echoes) << header_reply << " then " << second_reply;
    }
}

// The reply's notification stands in the queue before the sender is released
// (the command line reads the machine code as soon as its wait ends).
TEST(ReplyRules, EffectsPostBeforeReleasingTheSender) {
    struct Probe final : NotificationSink {
        AckEvent ack;
        bool released_first = true;
        void Post(const Notification&) noexcept override {
            released_first = ack.WaitFor(std::chrono::milliseconds(0)) == AckWait::Acknowledged;
        }
    } probe;
    AbortFlag abort{false};
    ApplyReplyEffects({.post = ACKED, .set_ack = true}, probe.ack, abort, probe);
    EXPECT_FALSE(probe.released_first);
    EXPECT_EQ(probe.ack.WaitFor(std::chrono::milliseconds(0)), AckWait::Acknowledged);
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
        EXPECT_EQ(address ? DeviceAddressText(*address) : "", hex.empty() ? "" : text);
    }
}

// "DownLoad" meets the inputs in the operator's order: the previous job stops
// first whatever follows, then the path (only its emptiness beeps), the
// address, saving, and the load, which refuses a folder; only a loaded file
// primes the progress and starts.
TEST(StartDownload, StepsComeInTheOrderTheOperatorMeetsThem) {
    const testing::TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", testing::SampleBytes(10)).string();
    const std::string gone = (dir.Path() / "gone.zip").string();
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"", "abc", "stop, refused: Please select firmware! (beep)"},
        {gone, "", "stop, refused: Firmware is not exist, please select firmare again."},
        {file, "", "stop, devices: IP is empty"},
        {file, "127.0.78", "stop, devices: IP is invalid"},
        {dir.Path().string(), "127.0.3.1", "stop, devices, save, refused when loaded: Failed to read firmware!"},
        {file, "127.0.3.1", "stop, devices, save, prime 3, start 3"},
    };
    // clang-format on
    for (const auto& [path, address, expected] : cases) {
        std::string steps;
        const auto note = [&steps](const std::string& step) {
            steps += (steps.empty() ? "" : ", ") + step;
        };
        const bool started = StartDownload(
            path,
            {.stop_previous = [&] { note("stop"); },
             .check_devices =
                 [&] {
                     const auto refusal = CheckDeviceAddress(address).refusal;
                     note(refusal ? "devices: " + std::string(refusal->message) : "devices");
                     return !refusal;
                 },
             .save = [&] { note("save"); },
             .refuse =
                 [&](const DownloadRefusal& refusal, std::optional<LoadStatus> status) {
                     note(std::string(status ? "refused when loaded: " : "refused: ") +
                          std::string(refusal.message) + (refusal.beep ? " (beep)" : ""));
                 },
             .prime =
                 [&](const PacketQueue& queue) { note("prime " + std::to_string(queue.size())); },
             .start = [&](auto queue) { note("start " + std::to_string(queue->size())); }});
        EXPECT_EQ(steps, expected);
        EXPECT_EQ(started, expected.ends_with("start 3"));
    }
}

}  // namespace
}  // namespace korvane
