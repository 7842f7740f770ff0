#include "devsim/device_simulator.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "base/inet.hpp"
#include "base/poll_window.hpp"
#include "base/wake_event.hpp"
#include "devsim/device_responder.hpp"
#include "devsim/device_socket.hpp"
#include "link/device_address.hpp"

namespace korvane::devsim {
namespace {

// Large enough for any UDP datagram: the simulator sees what was really sent.
constexpr std::size_t MAX_DATAGRAM = 65536;

// Room for a whole burst of requests: a sender that a late repeated
// acknowledgement has let run ahead must find every datagram here, not lose
// some to a full buffer.
constexpr int RECEIVE_ROOM = 8 << 20;

// How long the service thread looks for the next request before it sleeps:
// a requester on the same machine sends it within microseconds of the reply.
constexpr std::chrono::microseconds NEXT_REQUEST_POLL{50};

}  // namespace

struct DeviceSimulator::State {
    explicit State(SimulatorOptions simulator_options)
        : options(std::move(simulator_options)), responder(options.machine_code, options.out_dir) {}

    void Serve();
    // False when a stop request came during the reply delay.
    bool Handle(std::span<const std::uint8_t> datagram, const sockaddr_in& from);
    // Sends what `plan` says; false when a stop request came during its delay.
    bool SendPlanned(const OutgoingPlan& plan, const sockaddr_in& to);
    // Sends the late copies that are due; returns how long until the next
    // (NO_TIME_LIMIT: none).
    std::chrono::milliseconds SendDueLate();

    const SimulatorOptions options;
    DeviceResponder responder;  // service thread only
    std::unique_ptr<DeviceSocket> socket;
    std::optional<WakeEvent> wake;  // set once a stop is requested; a fresh one per Start
    // Also set by a stop request, so that a service thread that finds a
    // datagram waiting each time sees the request without a system call.
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::string listening_on;

    // Copies of replies that go out later (service thread only), by due time.
    struct Late {
        std::chrono::steady_clock::time_point due;
        ReplyDatagram reply;
        sockaddr_in to;
    };
    std::deque<Late> late;
    std::uint64_t datagram_count = 0;  // service thread
    bool last_unanswered = false;      // the latest download datagram got no reply (service thread)
    std::uint64_t overtaken_in_transfer = 0;  // since the latest header (service thread)
    std::atomic<std::uint64_t> overtaken{0};

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::size_t finished_count = 0;                   // transfers judged so far, kept or not
    std::vector<std::vector<std::uint8_t>> received;  // only with keep_history
    std::vector<TransferRecord> transfers;            // only with keep_history
    std::function<void(const TransferRecord&)> on_transfer;
};

void DeviceSimulator::State::Serve() {
    std::vector<std::uint8_t> buffer(MAX_DATAGRAM);
    std::optional<std::size_t> size;
    PollWindow look(NEXT_REQUEST_POLL);
    while (!stopping.load(std::memory_order_relaxed)) {
        if (!late.empty()) {
            (void)SendDueLate();
        }
        // Read first, wait only when nothing is there: the reply goes out
        // before the chunk it answers is digested and written, so by the time
        // that is done the requester's next datagram has mostly come, and it
        // is taken without a wait (no poll, no sleep and wake-up). When it has
        // not, a requester on a free core sends it within microseconds.
        sockaddr_in from{};
        const auto take = [&] { return (size = socket->Receive(buffer, from)).has_value(); };
        if (look.Poll(take)) {
            if (!Handle(std::span(buffer).first(*size), from)) {
                return;
            }
            continue;
        }
        const WaitResult ready = WaitForEither(socket->ReadyHandle(), *wake, SendDueLate());
        if (ready == WaitResult::Woken || ready == WaitResult::Failed) {
            return;
        }
    }
}

bool DeviceSimulator::State::Handle(std::span<const std::uint8_t> datagram,
                                    const sockaddr_in& from) {
    const std::uint64_t ordinal = ++datagram_count;
    const std::uint8_t code = datagram.empty() ? 0 : datagram[0];
    const bool download = code == PKT_HEADER || code == PKT_DATA || code == PKT_END;
    if (options.keep_history) {
        const std::lock_guard lock(mutex);
        received.emplace_back(datagram.begin(), datagram.end());
    }
    if (last_unanswered && (code == PKT_DATA || code == PKT_END)) {
        overtaken.fetch_add(1, std::memory_order_relaxed);
        ++overtaken_in_transfer;
    }
    if (code == PKT_HEADER) {
        overtaken_in_transfer = 0;
    }
    Response response =
        responder.ReplyFirst(datagram, RefusesDatagram(options.faults, ordinal, datagram));
    if (response.finished) {
        response.finished->overtaken = overtaken_in_transfer;
        std::function<void(const TransferRecord&)> callback;
        {
            const std::lock_guard lock(mutex);
            ++finished_count;
            if (options.keep_history) {
                transfers.push_back(*response.finished);
            }
            callback = on_transfer;
        }
        changed.notify_all();
        if (callback) {
            callback(*response.finished);
        }
    }
    const OutgoingPlan plan = PlanReplies(options.faults, ordinal, response.reply);
    if (download) {
        last_unanswered = plan.copies == 0;
    }
    const bool serving = SendPlanned(plan, from);
    // The reply is on its way: now the chunk's MD5 and file write, while the
    // requester takes the reply in and sends the next one.
    responder.Complete();
    return serving;
}

bool DeviceSimulator::State::SendPlanned(const OutgoingPlan& plan, const sockaddr_in& to) {
    if (plan.copies == 0) {
        return true;
    }
    if (plan.delay.count() > 0 && wake->WaitFor(plan.delay)) {
        return false;
    }
    // All of them at once, so that a repeat follows its first as closely as
    // it can (a repeat arriving after the requester's next send would count
    // as that datagram's acknowledgement for a device that echoes no sequence).
    // A reply that cannot be sent is a lost reply; the requester times out.
    std::array<std::span<const std::uint8_t>, DeviceSocket::MAX_BURST> parts{};
    std::size_t count = 0;
    for (const auto& garbage : plan.garbage) {
        parts.at(count++) = garbage;
    }
    for (int i = 0; i < plan.copies; ++i) {
        parts.at(count++) = plan.reply.Bytes();
    }
    (void)socket->Send(std::span(parts).first(count), to);
    if (plan.late_after.count() > 0) {
        late.push_back({std::chrono::steady_clock::now() + plan.late_after, plan.reply, to});
    }
    return true;
}

std::chrono::milliseconds DeviceSimulator::State::SendDueLate() {
    while (!late.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            late.front().due - std::chrono::steady_clock::now());
        if (left.count() > 0) {
            return left;
        }
        const std::array<std::span<const std::uint8_t>, 1> copy{late.front().reply.Bytes()};
        (void)socket->Send(copy, late.front().to);
        late.pop_front();
    }
    return NO_TIME_LIMIT;
}

DeviceSimulator::DeviceSimulator(SimulatorOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

DeviceSimulator::~DeviceSimulator() {
    Stop();
}

std::optional<std::string> DeviceSimulator::Start() {
    State& s = *state_;
    if (s.thread.joinable()) {
        return "already running";
    }
    const auto address = ParseDeviceAddress(s.options.bind_address);
    if (!address) {
        return "'" + s.options.bind_address + "' is not an IPv4 address";
    }
    const std::string wanted = s.options.bind_address + ":" + std::to_string(s.options.port);
    if (!s.options.out_dir.empty()) {
        std::error_code failed;
        std::filesystem::create_directories(s.options.out_dir, failed);
        if (failed || !std::filesystem::is_directory(s.options.out_dir)) {
            return "cannot use output folder " + s.options.out_dir.string() + ": " +
                   (failed ? failed.message() : "not a folder");
        }
    }
    auto socket = std::make_unique<DeviceSocket>();
    if (const std::error_code error = socket->Open(RECEIVE_ROOM)) {
        return "cannot make a UDP socket: " + error.message();
    }
    // A second simulator on the same address must fail.
    if (const std::error_code error = socket->Bind(*address, s.options.port)) {
        return "cannot bind " + wanted + ": " + error.message();
    }
    sockaddr_in local{};
    if (const std::error_code error = socket->LocalAddress(local)) {
        return "cannot read the bound address: " + error.message();
    }
    s.wake.emplace();
    if (!s.wake->Valid()) {
        return std::string("cannot make a wake-up event: ") + std::strerror(errno);
    }
    s.stopping.store(false);
    s.listening_on =
        DeviceAddressText(local.sin_addr) + ":" + std::to_string(ntohs(local.sin_port));
    s.socket = std::move(socket);
    try {
        s.thread = std::thread([&s] { s.Serve(); });
    } catch (const std::system_error& e) {
        s.socket.reset();
        return std::string("cannot start the service thread: ") + e.what();
    }
    return std::nullopt;
}

void DeviceSimulator::Stop() {
    State& s = *state_;
    if (s.thread.joinable()) {
        s.stopping.store(true, std::memory_order_relaxed);
        s.wake->Set();
        s.thread.join();
    }
    s.socket.reset();
    s.wake.reset();
}

void DeviceSimulator::OnTransfer(std::function<void(const TransferRecord&)> callback) {
    const std::lock_guard lock(state_->mutex);
    state_->on_transfer = std::move(callback);
}

std::vector<TransferRecord> DeviceSimulator::Transfers() const {
    const std::lock_guard lock(state_->mutex);
    return state_->transfers;
}

std::vector<std::vector<std::uint8_t>> DeviceSimulator::Received() const {
    const std::lock_guard lock(state_->mutex);
    return state_->received;
}

bool DeviceSimulator::WaitForTransfers(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->finished_count >= count; });
}

std::uint64_t DeviceSimulator::Overtaken() const {
    return state_->overtaken.load(std::memory_order_relaxed);
}

std::string DeviceSimulator::ListeningOn() const {
    return state_->listening_on;
}

}  // namespace korvane::devsim
