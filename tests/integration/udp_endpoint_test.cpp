// The link on loopback: the endpoint and its receive thread (127.0.1.x), and
// the two maintenance exchanges against the simulator (127.0.5.x): one
// request, one wait of at most 5 s, and what the operator is told.
#include "link/udp_endpoint.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "base/messages.hpp"
#include "download/download_worker.hpp"
#include "download/notification_queue.hpp"
#include "link/device_address.hpp"
#include "link/machine_code_text.hpp"
#include "link/maintenance_commands.hpp"
#include "link/protocol.hpp"
#include "support/loopback_socket.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::LoopbackSocket;

// Keeps what the endpoint hands over and what it tells its trace (">" sent,
// "<" received, "x" dropped, each before the bytes); while `hold` is set, a
// hand-over waits (and says so in `holding`).
class Collector final : public DeviceReplyHandler, public LinkTrace {
public:
    std::atomic<bool> hold{false};
    std::atomic<bool> holding{false};

    void HandleDeviceReply(std::span<const std::uint8_t> datagram) noexcept override {
        for (; hold; holding = true) {
            std::this_thread::sleep_for(1ms);
        }
        Add(got_, {}, datagram);
    }
    void Sent(in_addr, std::span<const std::uint8_t> head,
              std::span<const std::uint8_t> tail) noexcept override {
        Bytes sent(head.begin(), head.end());
        sent.insert(sent.end(), tail.begin(), tail.end());
        Add(trace_, {'>'}, sent);
    }
    void Received(in_addr, std::span<const std::uint8_t> datagram, bool dropped) noexcept override {
        Add(trace_, {dropped ? std::uint8_t{'x'} : std::uint8_t{'<'}}, datagram);
    }
    // Everything handed over once `count` have come (or 3 s passed) and then
    // nothing more for 200 ms.
    std::vector<Bytes> After(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 3s, [&] { return got_.size() >= count; });
        changed_.wait_for(lock, 200ms, [&] { return got_.size() > count; });
        return got_;
    }
    std::vector<Bytes> Trace() {
        const std::lock_guard lock(mutex_);
        return trace_;
    }

private:
    void Add(std::vector<Bytes>& to, Bytes line, std::span<const std::uint8_t> datagram) {
        line.insert(line.end(), datagram.begin(), datagram.end());
        const std::lock_guard lock(mutex_);
        to.push_back(std::move(line));
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> got_;
    std::vector<Bytes> trace_;
};

// The way to the simulated device at `device`: its port.
LinkRoute At(const std::string& device) {
    return {.port = testing::DevicePort(device)};
}

struct Wire {
    LoopbackSocket device;
    Collector collector;
    UdpEndpoint endpoint{collector};
    sockaddr_in back{};  // where the endpoint's datagrams come from

    explicit Wire(const char* address) : Wire(address, At(address)) {}
    Wire(const char* address, LinkRoute route) : device(address, route.port) {
        route.trace = &collector;
        endpoint.SetRemote(*ParseDeviceAddress(address), route);
        EXPECT_FALSE(endpoint.Open());
    }
    // The endpoint sends head + tail; the device sees one datagram.
    Bytes Exchange(const Bytes& head, const Bytes& tail = {}) {
        EXPECT_FALSE(endpoint.Send(head, tail));
        auto got = device.Receive(2s);
        EXPECT_TRUE(got.has_value());
        back = got ? got->from : sockaddr_in{};
        return got ? got->bytes : Bytes{};
    }
};

// What goes out is head and tail as one datagram from the endpoint's own port;
// what comes back is handed over whole up to 5200 bytes, in order, from any
// sender; larger and empty datagrams are dropped without stopping the loop.
TEST(UdpEndpoint, SendsWholeDatagramsAndHandsOverRepliesWithinTheBuffer) {
    Wire wire("127.0.1.1");
    const Bytes largest = testing::SampleBytes(MAX_DATA_PACKET_SIZE);
    EXPECT_EQ(wire.Exchange(Bytes(largest.begin(), largest.begin() + 5),
                            Bytes(largest.begin() + 5, largest.end())),
              largest);
    EXPECT_EQ(ntohs(wire.back.sin_port), wire.endpoint.LocalPort());
    EXPECT_EQ(wire.endpoint.Send({}), std::errc::invalid_argument);
    EXPECT_FALSE(wire.device.Receive(100ms).has_value()) << "an empty send went out";

    LoopbackSocket stranger("127.0.1.2");
    const Bytes full = testing::SampleBytes(5200);
    ASSERT_TRUE(wire.device.SendTo(wire.back, testing::SampleBytes(5201)));
    ASSERT_TRUE(wire.device.SendTo(wire.back, Bytes{}));
    ASSERT_TRUE(wire.device.SendTo(wire.back, full));
    ASSERT_TRUE(stranger.SendTo(wire.back, Bytes{0x12, 0, 1, 6}));
    EXPECT_EQ(wire.collector.After(2), (std::vector<Bytes>{full, {0x12, 0, 1, 6}}));
}

// A reply already waiting in the socket when the next request goes out (a
// duplicate, a late answer) is never handed over; one that came after it is.
// The first hand-over is held so that the duplicate is unread at the send.
TEST(UdpEndpoint, AReplyWaitingBeforeTheSendIsDropped) {
    Wire wire("127.0.1.3");
    wire.collector.hold = true;
    wire.Exchange({0x11, 0, 0});
    ASSERT_TRUE(wire.device.SendTo(wire.back, Bytes{0x11, 0, 0, 6}));
    while (!wire.collector.holding) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(wire.device.SendTo(wire.back, Bytes{0x11, 0, 0, 6, 0xD0}));  // the duplicate
    std::this_thread::sleep_for(5ms);
    wire.Exchange({0x12, 0, 1});
    wire.collector.hold = false;
    ASSERT_TRUE(wire.device.SendTo(wire.back, Bytes{0x12, 0, 1, 6}));
    EXPECT_EQ(wire.collector.After(2), (std::vector<Bytes>{{0x11, 0, 0, 6}, {0x12, 0, 1, 6}}));
    EXPECT_EQ(wire.collector.Trace(), (std::vector<Bytes>{{'>', 0x11, 0, 0},
                                                          {'<', 0x11, 0, 0, 6},
                                                          {'>', 0x12, 0, 1},
                                                          {'x', 0x11, 0, 0, 6, 0xD0},
                                                          {'<', 0x12, 0, 1, 6}}));
}

// The route picks the device's port, and the local address or interface the
// datagrams leave from; a local address that cannot be had fails the open.
TEST(UdpEndpoint, RouteChoosesPortAndWhereDatagramsLeaveFrom) {
    Wire to_port("127.0.1.4", {.port = 21900});
    EXPECT_EQ(to_port.Exchange({0x43, 0, 0, 0, 0}), (Bytes{0x43, 0, 0, 0, 0}));
#ifdef _WIN32
    GTEST_SKIP() << "wine binds to any address but 127.0.0.1 as to 0.0.0.0; Windows has no "
                    "binding to an interface by name (SO_BINDTODEVICE)";
#endif
    Wire from_source("127.0.1.5", {.source = ParseDeviceAddress("127.0.1.6")});
    from_source.Exchange({0x81});
    EXPECT_EQ(from_source.back.sin_addr.s_addr, ParseDeviceAddress("127.0.1.6")->s_addr);
    Wire on_loopback("127.0.1.7", {.interface = "lo"});
    EXPECT_EQ(on_loopback.Exchange({0x81}), Bytes{0x81});

    // (A bad interface and a send to port 0 are the CLI's and the job's rows.)
    Collector collector;
    UdpEndpoint endpoint(collector);
    endpoint.SetRemote(*ParseDeviceAddress("127.0.1.8"),
                       {.source = ParseDeviceAddress("192.0.2.1")});
    EXPECT_EQ(endpoint.Open(), std::errc::address_not_available);
}

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
    const CommandOutcome outcome = RestoreIp(link, "127.0.5.1", {}, At("127.0.5.1"));
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
        link, "127.0.5.21", [](const CommandOutcome&) { std::this_thread::sleep_for(1500ms); },
        At("127.0.5.21"));
    EXPECT_EQ(first.status, CommandStatus::NoReply);
    EXPECT_EQ(ShownCode(sink), WORKED);
    EXPECT_EQ(RestoreIp(link, "127.0.5.21", {}, At("127.0.5.21")).status, CommandStatus::NoReply);

    const testing::TempDir dir;
    DownloadWorker worker(link, *ParseDeviceAddress("127.0.5.21"),
                          LoadFirmware(dir.WriteFile("empty.zip", {})).queue, 5000ms,
                          DownloadPace::Described, At("127.0.5.21"));
    ASSERT_TRUE(worker.Start());
    worker.Join();
    EXPECT_EQ(worker.Outcome()->result, DownloadResult::TimedOut);
    EXPECT_EQ(worker.Outcome()->acknowledged, 0u);
}

// A command waits on an event of its own: what a download of the same link does
// to the link's event (each acknowledgement, an abandon) never answers it.
TEST(MaintenanceCommands, TheLinksEventNeverAnswersACommand) {
    NotificationQueue sink;
    DeviceLink link(sink);
    auto restore = std::async(std::launch::async, [&] { return RestoreIp(link, "127.0.5.32"); });
    while (restore.wait_for(10ms) != std::future_status::ready) {
        link.Ack().Set();
    }
    EXPECT_EQ(restore.get().status, CommandStatus::NoReply);
}

}  // namespace
}  // namespace korvane
