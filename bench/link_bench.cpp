// Timings of the device link on loopback: how long an idle endpoint takes to
// stop, how soon a reply reaches the handler, and the cadence of stop-and-wait
// exchanges against the simulated device (the receive loop's 10 ms pause sets
// a ceiling of about 10.15 ms per acknowledged datagram).
// Addresses: the link's 127.0.1.250 and the simulator's 127.0.2.250.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "base/unique_fd.hpp"
#include "devsim/device_simulator.hpp"
#include "link/device_address.hpp"
#include "link/device_link.hpp"
#include "link/packet_builders.hpp"
#include "link/udp_endpoint.hpp"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

void ReportSamples(benchmark::State& state, std::vector<double> samples_ms) {
    if (samples_ms.empty()) {
        return;
    }
    std::sort(samples_ms.begin(), samples_ms.end());
    state.counters["min_ms"] = samples_ms.front();
    state.counters["median_ms"] = samples_ms[samples_ms.size() / 2];
    state.counters["mean_ms"] =
        std::accumulate(samples_ms.begin(), samples_ms.end(), 0.0) / samples_ms.size();
    state.counters["max_ms"] = samples_ms.back();
}

class NullSink final : public NotificationSink {
public:
    void Post(const Notification&) noexcept override {}
};

// Applies the reply rules to a link, as the owner of a product endpoint does.
class LinkGate final : public DeviceReplyHandler {
public:
    explicit LinkGate(DeviceLink& link) : link_(link) {}
    void HandleDeviceReply(std::span<const std::uint8_t> datagram) noexcept override {
        ApplyReplyEffects(DecideReplyEffects(datagram), link_.Ack(), link_.Abort(), link_.Sink());
    }

private:
    DeviceLink& link_;
};

// Notes when the last datagram was handed over.
class ArrivalClock final : public DeviceReplyHandler {
public:
    void HandleDeviceReply(std::span<const std::uint8_t>) noexcept override {
        {
            const std::lock_guard lock(mutex_);
            arrived_ = Clock::now();
            ++count_;
        }
        changed_.notify_all();
    }
    Clock::time_point WaitForArrival(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ >= count; });
        return arrived_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t count_ = 0;
    Clock::time_point arrived_;
};

// Close() of an endpoint whose loop is idle, caught at various points of its cycle.
void BM_IdleEndpointStop(benchmark::State& state) {
    ArrivalClock handler;
    std::mt19937 random(1);
    std::uniform_int_distribution<int> phase_ms(0, 120);
    std::vector<double> samples;
    for (auto _ : state) {
        UdpEndpoint endpoint(handler);
        endpoint.SetRemote(*ParseDeviceAddress("127.0.1.250"));
        if (endpoint.Open()) {
            state.SkipWithError("cannot open");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(phase_ms(random)));
        const auto start = Clock::now();
        endpoint.Close();
        const Milliseconds took = Clock::now() - start;
        samples.push_back(took.count());
        state.SetIterationTime(took.count() / 1000);
    }
    ReportSamples(state, samples);
}
BENCHMARK(BM_IdleEndpointStop)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

// From the device's sendto to the handler, for a reply that comes at a random
// moment of the receive loop's cycle.
void BM_ReplyToHandler(benchmark::State& state) {
    ArrivalClock handler;
    UdpEndpoint endpoint(handler);
    endpoint.SetRemote(*ParseDeviceAddress("127.0.1.250"));
    UniqueFd device(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(DEVICE_PORT);
    local.sin_addr = *ParseDeviceAddress("127.0.1.250");
    if (::bind(device.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        endpoint.Open()) {
        state.SkipWithError("cannot set up");
        return;
    }
    (void)endpoint.Send(RESTORE_IP_REQUEST);
    std::array<std::uint8_t, 16> buffer{};
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    (void)::recvfrom(device.Get(), buffer.data(), buffer.size(), 0,
                     reinterpret_cast<sockaddr*>(&from), &from_size);
    const std::array<std::uint8_t, 4> reply{PKT_RESTORE_IP, 0, 0, REPLY_ACK};
    std::mt19937 random(2);
    std::uniform_int_distribution<int> phase_ms(0, 120);
    std::vector<double> samples;
    std::size_t sent = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(phase_ms(random)));
        const auto start = Clock::now();
        (void)::sendto(device.Get(), reply.data(), reply.size(), 0,
                       reinterpret_cast<sockaddr*>(&from), sizeof from);
        const Milliseconds took = handler.WaitForArrival(++sent) - start;
        samples.push_back(took.count());
        state.SetIterationTime(took.count() / 1000);
    }
    ReportSamples(state, samples);
}
BENCHMARK(BM_ReplyToHandler)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

// One acknowledged 8005-byte data datagram per iteration, stop-and-wait, as a
// download sends them.
void BM_StopAndWaitExchange(benchmark::State& state) {
    devsim::SimulatorOptions options;
    options.bind_address = "127.0.2.250";
    options.keep_history = false;
    devsim::DeviceSimulator device(options);
    if (const auto error = device.Start()) {
        state.SkipWithError(error->c_str());
        return;
    }
    NullSink sink;
    DeviceLink link(sink);
    LinkGate gate(link);
    UdpEndpoint endpoint(gate);
    endpoint.SetRemote(*ParseDeviceAddress("127.0.2.250"));
    if (endpoint.Open()) {
        state.SkipWithError("cannot open");
        return;
    }
    const auto exchange = [&](std::span<const std::uint8_t> datagram) {
        link.Ack().Reset();
        (void)endpoint.Send(datagram);
        return link.Ack().WaitFor(std::chrono::milliseconds(ACK_WAIT_MS)) == AckWait::Acknowledged;
    };
    if (!exchange(BuildHeaderPacket(0, 0xFFFFFFFF, Digest{}).Bytes())) {
        state.SkipWithError("no acknowledgement");
        return;
    }
    const std::vector<std::uint8_t> chunk(MAX_DATA_PAYLOAD, 0x42);
    std::uint32_t sequence = 1;
    std::vector<double> samples;
    for (auto _ : state) {
        const PacketRecord packet = BuildDataPacket(sequence++, chunk);
        const auto start = Clock::now();
        if (!exchange(packet.Bytes())) {
            state.SkipWithError("no acknowledgement");
            break;
        }
        samples.push_back(Milliseconds(Clock::now() - start).count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MAX_DATA_PAYLOAD));
    ReportSamples(state, samples);
}
BENCHMARK(BM_StopAndWaitExchange)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvane

BENCHMARK_MAIN();
