#include "devsim/device_simulator.hpp"

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

}  // namespace

struct DeviceSimulator::State {
    explicit State(SimulatorOptions simulator_options)
        : options(std::move(simulator_options)), responder(options.machine_code, options.out_dir) {}

    void Serve();
    // False when a stop request came during the reply delay.
    bool Handle(std::span<const std::uint8_t> datagram, const sockaddr_in& from);
    // Sends the late copies that are due; returns how long until the next
    // (NO_TIME_LIMIT: none).
    std::chrono::milliseconds SendDueLate();
    void SendAll(std::vector<std::vector<std::uint8_t>>& datagrams, const sockaddr_in& to) const;
    // Waits `delay` or until a stop request; false on the latter.
    bool Pause(std::chrono::milliseconds delay) const;

    const SimulatorOptions options;
    DeviceResponder responder;  // service thread only
    std::unique_ptr<DeviceSocket> socket;
    std::optional<WakeEvent> wake;  // set once a stop is requested; a fresh one per Start
    std::thread thread;
    std::string listening_on;

    // Copies of replies that go out later (service thread only), by due time.
    struct Late {
        std::chrono::steady_clock::time_point due;
        std::vector<std::vector<std::uint8_t>> datagrams;
        sockaddr_in to;
    };
    std::deque<Late> late;
    bool last_unanswered = false;  // the latest download datagram got no reply (service thread)
    std::uint64_t overtaken_in_transfer = 0;  // since the latest header (service thread)

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::uint64_t datagram_count = 0;
    std::size_t finished_count = 0;  // transfers judged so far, kept or not
    std::uint64_t overtaken = 0;
    std::vector<std::vector<std::uint8_t>> received;  // only with keep_history
    std::vector<TransferRecord> transfers;            // only with keep_history
    std::function<void(const TransferRecord&)> on_transfer;
};

void DeviceSimulator::State::Serve() {
    std::vector<std::uint8_t> buffer(MAX_DATAGRAM);
    while (true) {
        const WaitResult ready = WaitForEither(socket->ReadyHandle(), *wake, SendDueLate());
        if (ready == WaitResult::Woken || ready == WaitResult::Failed) {
            return;
        }
        if (ready == WaitResult::TimedOut) {
            continue;
        }
        // One datagram per wait: a request answered now is usually followed by
        // the next only after the answer, so a second read would mostly find
        // nothing and cost a system call; poll sees at once whatever is pending.
        sockaddr_in from{};
        const auto n = socket->Receive(buffer, from);
        if (n && !Handle(std::span(buffer).first(*n), from)) {
            return;
        }
    }
}

bool DeviceSimulator::State::Handle(std::span<const std::uint8_t> datagram,
                                    const sockaddr_in& from) {
    std::uint64_t ordinal = 0;
    const std::uint8_t code = datagram.empty() ? 0 : datagram[0];
    const bool download = code == PKT_HEADER || code == PKT_DATA || code == PKT_END;
    {
        const std::lock_guard lock(mutex);
        ordinal = ++datagram_count;
        if (options.keep_history) {
            received.emplace_back(datagram.begin(), datagram.end());
        }
        if (last_unanswered && (code == PKT_DATA || code == PKT_END)) {
            ++overtaken;
            ++overtaken_in_transfer;
        }
    }
    if (code == PKT_HEADER) {
        overtaken_in_transfer = 0;
    }
    Response response =
        responder.Respond(datagram, RefusesDatagram(options.faults, ordinal, datagram));
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
    OutgoingPlan plan = PlanReplies(options.faults, ordinal, response.reply);
    if (download) {
        last_unanswered = plan.datagrams.empty();
    }
    if (plan.datagrams.empty()) {
        return true;
    }
    if (plan.delay.count() > 0 && !Pause(plan.delay)) {
        return false;
    }
    SendAll(plan.datagrams, from);
    if (plan.late) {
        late.push_back(
            {std::chrono::steady_clock::now() + plan.late_after, {std::move(*plan.late)}, from});
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
        SendAll(late.front().datagrams, late.front().to);
        late.pop_front();
    }
    return NO_TIME_LIMIT;
}

void DeviceSimulator::State::SendAll(std::vector<std::vector<std::uint8_t>>& datagrams,
                                     const sockaddr_in& to) const {
    // All of them at once, so that a repeat follows its first as closely as
    // it can (a repeat arriving after the requester's next send would count
    // as that datagram's acknowledgement for a device that echoes no sequence).
    // A reply that cannot be sent is a lost reply; the requester times out.
    (void)socket->Send(datagrams, to);
}

bool DeviceSimulator::State::Pause(std::chrono::milliseconds delay) const {
    return !wake->WaitFor(delay);
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
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    s.listening_on = std::string(text) + ":" + std::to_string(ntohs(local.sin_port));
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
    const std::lock_guard lock(state_->mutex);
    return state_->overtaken;
}

std::string DeviceSimulator::ListeningOn() const {
    return state_->listening_on;
}

}  // namespace korvane::devsim
