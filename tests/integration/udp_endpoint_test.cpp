// The endpoint and its receive thread against real UDP on loopback. Each TEST
// plays the device on its own address 127.0.1.x.
#include "link/udp_endpoint.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "link/device_address.hpp"
#include "link/device_reply_handler.hpp"
#include "link/protocol.hpp"
#include "link/receive_thread.hpp"
#include "support/loopback_socket.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using testing::LoopbackSocket;

// Records every datagram the endpoint hands over, with when its hand-over
// began and ended. `during` (set before Open) runs inside the hand-over.
class Collector final : public DeviceReplyHandler {
public:
    struct Arrival {
        Bytes bytes;
        Clock::time_point entered;
        Clock::time_point left;
        std::thread::id thread;
    };

    std::function<void(std::size_t index)> during;

    void HandleDeviceReply(std::span<const std::uint8_t> datagram) override {
        Arrival arrival{.bytes = Bytes(datagram.begin(), datagram.end()),
                        .entered = Clock::now(),
                        .thread = std::this_thread::get_id()};
        std::size_t index = 0;
        {
            const std::lock_guard lock(mutex_);
            index = count_++;
        }
        if (during) {
            during(index);
        }
        arrival.left = Clock::now();
        {
            const std::lock_guard lock(mutex_);
            arrivals_.push_back(std::move(arrival));
        }
        changed_.notify_all();
    }

    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return arrivals_.size() >= count; });
    }

    std::vector<Arrival> Arrivals() {
        const std::lock_guard lock(mutex_);
        return arrivals_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t count_ = 0;
    std::vector<Arrival> arrivals_;
};

Bytes Pattern(std::size_t size, std::uint8_t seed = 0) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

std::unique_ptr<UdpEndpoint> OpenEndpoint(Collector& collector, const std::string& device) {
    auto endpoint = std::make_unique<UdpEndpoint>(collector);
    const auto address = ParseDeviceAddress(device);
    EXPECT_TRUE(address.has_value());
    endpoint->SetRemote(*address, DEVICE_PORT);
    EXPECT_TRUE(endpoint->Open());
    return endpoint;
}

// The endpoint sends first (which binds its socket); the device answers to
// wherever that came from, as a real device does.
sockaddr_in FirstContact(UdpEndpoint& endpoint, const LoopbackSocket& device) {
    const Bytes hello{PKT_GET_MACHINE_CODE, 0, 0, 0, 0};
    EXPECT_TRUE(endpoint.Send(hello));
    const auto received = device.Receive(2s);
    EXPECT_TRUE(received.has_value());
    if (!received) {
        return {};
    }
    EXPECT_EQ(received->bytes, hello);
    EXPECT_EQ(ntohs(received->from.sin_port), endpoint.LocalPort());
    return received->from;
}

std::size_t ThreadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

TEST(UdpEndpoint, SendsWholeDatagramsToTheDevicePort) {
    LoopbackSocket device("127.0.1.9", DEVICE_PORT);
    Collector collector;
    auto endpoint = OpenEndpoint(collector, "127.0.1.9");
    FirstContact(*endpoint, device);
    const Bytes largest = Pattern(MAX_DATA_PACKET_SIZE, 7);
    EXPECT_TRUE(endpoint->Send(largest));
    const auto received = device.Receive(2s);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->bytes, largest);
}

TEST(UdpEndpoint, HandsOverADatagramOfExactlyTheBufferSizeWhole) {
    LoopbackSocket device("127.0.1.10", DEVICE_PORT);
    Collector collector;
    auto endpoint = OpenEndpoint(collector, "127.0.1.10");
    const auto to = FirstContact(*endpoint, device);
    const Bytes full = Pattern(ReceiveThread::RECV_BUFFER_SIZE, 3);
    ASSERT_TRUE(device.SendTo(to, full));
    ASSERT_TRUE(collector.WaitFor(1, 3s));
    EXPECT_EQ(collector.Arrivals().at(0).bytes, full);
}

TEST(UdpEndpoint, DropsAnOversizedDatagramAndDeliversTheNext) {
    LoopbackSocket device("127.0.1.11", DEVICE_PORT);
    Collector collector;
    auto endpoint = OpenEndpoint(collector, "127.0.1.11");
    const auto to = FirstContact(*endpoint, device);
    // Shaped like an acknowledgement: cut to the buffer it would count as one.
    Bytes oversized = Pattern(ReceiveThread::RECV_BUFFER_SIZE + 1);
    oversized[0] = PKT_DATA;
    oversized[3] = REPLY_ACK;
    const Bytes next{PKT_DATA, 0, 1, REPLY_ACK};
    ASSERT_TRUE(device.SendTo(to, oversized));
    ASSERT_TRUE(device.SendTo(to, next));
    ASSERT_TRUE(collector.WaitFor(1, 3s));
    std::this_thread::sleep_for(300ms);  // room for a wrong second hand-over
    const auto arrivals = collector.Arrivals();
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].bytes, next);
}

TEST(UdpEndpoint, DoesNotHandOverAnEmptyDatagram) {
    LoopbackSocket device("127.0.1.12", DEVICE_PORT);
    Collector collector;
    auto endpoint = OpenEndpoint(collector, "127.0.1.12");
    const auto to = FirstContact(*endpoint, device);
    const Bytes next{PKT_END, 0, 2, REPLY_ACK};
    ASSERT_TRUE(device.SendTo(to, Bytes{}));
    ASSERT_TRUE(device.SendTo(to, next));
    ASSERT_TRUE(collector.WaitFor(1, 3s));
    std::this_thread::sleep_for(300ms);
    const auto arrivals = collector.Arrivals();
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].bytes, next);
}

TEST(UdpEndpoint, DeliversDatagramsThatQueuedUpInOnePassInOrder) {
    LoopbackSocket device("127.0.1.13", DEVICE_PORT);
    Collector collector;
    std::atomic<bool> first_entered{false};
    collector.during = [&](std::size_t index) {
        if (index == 0) {
            first_entered = true;
            std::this_thread::sleep_for(300ms);
        }
    };
    auto endpoint = OpenEndpoint(collector, "127.0.1.13");
    const auto to = FirstContact(*endpoint, device);
    ASSERT_TRUE(device.SendTo(to, Bytes{1}));
    while (!first_entered) {
        std::this_thread::sleep_for(1ms);
    }
    // These three queue up while the first hand-over is still busy.
    ASSERT_TRUE(device.SendTo(to, Bytes{2}));
    ASSERT_TRUE(device.SendTo(to, Bytes{3, 3}));
    ASSERT_TRUE(device.SendTo(to, Bytes{4, 4, 4}));
    ASSERT_TRUE(collector.WaitFor(4, 3s));
    const auto arrivals = collector.Arrivals();
    ASSERT_EQ(arrivals.size(), 4u);
    EXPECT_EQ(arrivals[0].bytes, Bytes{1});
    EXPECT_EQ(arrivals[1].bytes, Bytes{2});
    EXPECT_EQ(arrivals[2].bytes, (Bytes{3, 3}));
    EXPECT_EQ(arrivals[3].bytes, (Bytes{4, 4, 4}));
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        // Separate passes are at least one 10 ms pause apart; these follow at once.
        EXPECT_LT(arrivals[i].entered - arrivals[i - 1].left, ReceiveThread::CYCLE_PAUSE)
            << "datagram " << i << " came in a later pass";
        EXPECT_EQ(arrivals[i].thread, arrivals[0].thread);
    }
    EXPECT_NE(arrivals[0].thread, std::this_thread::get_id());
}

TEST(UdpEndpoint, DeliversRepliesFromAnySourceAddressAndPort) {
    LoopbackSocket device("127.0.1.14", DEVICE_PORT);
    Collector collector;
    auto endpoint = OpenEndpoint(collector, "127.0.1.14");
    FirstContact(*endpoint, device);
    LoopbackSocket other_address("127.0.1.15");
    LoopbackSocket other_port("127.0.1.14");
    const std::uint16_t port = endpoint->LocalPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(other_address.SendTo("127.0.0.1", port, Bytes{0x43, 0, 0, REPLY_ACK}));
    ASSERT_TRUE(collector.WaitFor(1, 3s));
    ASSERT_TRUE(other_port.SendTo("127.0.0.1", port, Bytes{0x81, 0, 0, REPLY_ACK}));
    ASSERT_TRUE(collector.WaitFor(2, 3s));
    const auto arrivals = collector.Arrivals();
    EXPECT_EQ(arrivals[0].bytes, (Bytes{0x43, 0, 0, REPLY_ACK}));
    EXPECT_EQ(arrivals[1].bytes, (Bytes{0x81, 0, 0, REPLY_ACK}));
}

TEST(UdpEndpoint, SendOfAnEmptyArrayReturnsFalseAndSendsNothing) {
    LoopbackSocket device("127.0.1.16", DEVICE_PORT);
    Collector collector;
    UdpEndpoint endpoint(collector);
    endpoint.SetRemote(*ParseDeviceAddress("127.0.1.16"), DEVICE_PORT);
    EXPECT_FALSE(endpoint.Send(Bytes{1, 2, 3})) << "not open yet";
    ASSERT_TRUE(endpoint.Open());
    EXPECT_FALSE(endpoint.Send(Bytes{}));
    EXPECT_FALSE(endpoint.Send(std::span<const std::uint8_t>()));
    EXPECT_TRUE(endpoint.Send(Bytes{9}));
    const auto received = device.Receive(2s);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->bytes, Bytes{9}) << "an empty datagram went out first";
    EXPECT_FALSE(device.Receive(100ms).has_value());
}

TEST(UdpEndpoint, EndpointDestroyedRightAfterOpenEndsItsThread) {
    Collector collector;
    {
        // The first thread a process makes may bring a runtime's helper thread along.
        UdpEndpoint warm_up(collector);
        ASSERT_TRUE(warm_up.Open());
    }
    const std::size_t threads_before = ThreadCount();
    for (int i = 0; i < 20; ++i) {
        const auto start = Clock::now();
        {
            UdpEndpoint endpoint(collector);
            endpoint.SetRemote(*ParseDeviceAddress("127.0.1.17"), DEVICE_PORT);
            ASSERT_TRUE(endpoint.Open());
        }
        EXPECT_LT(Clock::now() - start, 1s);
        EXPECT_EQ(ThreadCount(), threads_before);
    }
}

TEST(UdpEndpoint, DestroyingANeverOpenedOrFailedEndpointDoesNothing) {
    Collector collector;
    {
        UdpEndpoint never_opened(collector);
        EXPECT_FALSE(never_opened.IsOpen());
        EXPECT_TRUE(never_opened.Close());
    }
    // No descriptor left: the socket cannot be made and Open fails.
    const std::size_t threads_before = ThreadCount();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd = ::dup(0); fd >= 0; fd = ::dup(0)) {
        fillers.push_back(fd);
    }
    const auto start = Clock::now();
    {
        UdpEndpoint failed(collector);
        failed.SetRemote(*ParseDeviceAddress("127.0.1.20"), DEVICE_PORT);
        EXPECT_FALSE(failed.Open());
        EXPECT_FALSE(failed.IsOpen());
        EXPECT_FALSE(failed.Send(Bytes{1}));
    }
    EXPECT_LT(Clock::now() - start, 100ms);
    for (const int fd : fillers) {
        ::close(fd);
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(ThreadCount(), threads_before);
    // With descriptors back the same object kind opens again.
    UdpEndpoint working(collector);
    working.SetRemote(*ParseDeviceAddress("127.0.1.20"), DEVICE_PORT);
    EXPECT_TRUE(working.Open());
}

TEST(UdpEndpoint, StopIsSeenWithinAboutOneCycle) {
    Collector collector;
    for (int i = 0; i < 8; ++i) {
        UdpEndpoint endpoint(collector);
        endpoint.SetRemote(*ParseDeviceAddress("127.0.1.18"), DEVICE_PORT);
        ASSERT_TRUE(endpoint.Open());
        std::this_thread::sleep_for(std::chrono::milliseconds(13 * i));  // various loop phases
        const auto start = Clock::now();
        EXPECT_TRUE(endpoint.Close());
        const auto took = Clock::now() - start;
        EXPECT_FALSE(endpoint.IsOpen());
        // One cycle is 100 ms of waiting and a 10 ms pause; Stop looks every 20 ms.
        EXPECT_LT(took, 1s);
    }
}

TEST(UdpEndpoint, AHandlerThatBlocksPastTheStopWaitIsStillJoined) {
    LoopbackSocket device("127.0.1.19", DEVICE_PORT);
    Collector collector;
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    constexpr auto BLOCK = 2500ms;  // longer than 101 stop pauses of 20 ms
    collector.during = [&](std::size_t) {
        entered = true;
        std::this_thread::sleep_for(BLOCK);
        finished = true;
    };
    auto endpoint = OpenEndpoint(collector, "127.0.1.19");
    const auto to = FirstContact(*endpoint, device);
    ASSERT_TRUE(device.SendTo(to, Bytes{PKT_DATA, 0, 1, REPLY_ACK}));
    while (!entered) {
        std::this_thread::sleep_for(1ms);
    }
    const auto start = Clock::now();
    endpoint.reset();
    const auto took = Clock::now() - start;
    EXPECT_TRUE(finished) << "the endpoint went away under a running hand-over";
    EXPECT_GT(took, 2000ms);
    EXPECT_LT(took, 8s);
}

}  // namespace
}  // namespace korvane
