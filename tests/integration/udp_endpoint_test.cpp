// The endpoint and its receive thread against real UDP on loopback.
// Addresses 127.0.1.x.
#include "link/udp_endpoint.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "link/device_address.hpp"
#include "link/protocol.hpp"
#include "support/loopback_socket.hpp"
#include "support/sample_bytes.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::LoopbackSocket;

// Keeps what the endpoint hands over; while `hold` is set, a hand-over
// waits (and says so in `holding`).
class Collector final : public DeviceReplyHandler {
public:
    std::atomic<bool> hold{false};
    std::atomic<bool> holding{false};

    void HandleDeviceReply(std::span<const std::uint8_t> datagram) noexcept override {
        for (; hold; holding = true) {
            std::this_thread::sleep_for(1ms);
        }
        const std::lock_guard lock(mutex_);
        got_.emplace_back(datagram.begin(), datagram.end());
        changed_.notify_all();
    }
    // Everything handed over once `count` have come (or 3 s passed) and then
    // nothing more for 200 ms.
    std::vector<Bytes> After(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 3s, [&] { return got_.size() >= count; });
        changed_.wait_for(lock, 200ms, [&] { return got_.size() > count; });
        return got_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> got_;
};

struct Wire {
    LoopbackSocket device;
    Collector collector;
    UdpEndpoint endpoint{collector};
    sockaddr_in back{};  // where the endpoint's datagrams come from

    explicit Wire(const char* address) : device(address, DEVICE_PORT) {
        endpoint.SetRemote(*ParseDeviceAddress(address), DEVICE_PORT);
        EXPECT_TRUE(endpoint.Open());
    }
    // The endpoint sends head + tail; the device sees one datagram.
    Bytes Exchange(const Bytes& head, const Bytes& tail = {}) {
        EXPECT_TRUE(endpoint.Send(head, tail));
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
    EXPECT_FALSE(wire.endpoint.Send({}));
    EXPECT_FALSE(wire.device.Receive(100ms).has_value()) << "an empty send went out";

    LoopbackSocket stranger("127.0.1.2");
    const Bytes full = testing::SampleBytes(5200);
    ASSERT_TRUE(wire.device.SendTo(wire.back, testing::SampleBytes(5201)));
    ASSERT_TRUE(wire.device.SendTo(wire.back, Bytes{}));
    ASSERT_TRUE(wire.device.SendTo(wire.back, full));
    ASSERT_TRUE(stranger.SendTo(wire.back, Bytes{0x12, 0, 1, 6}));
    EXPECT_EQ(wire.collector.After(2), (std::vector<Bytes>{full, {0x12, 0, 1, 6}}));
}

// A reply that was already waiting in the socket when the next request went
// out (a duplicate, a late answer) is never handed over; one that came after
// the request is. The first hand-over is held up so that the duplicate is
// still unread when the request goes out.
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
}

}  // namespace
}  // namespace korvane
