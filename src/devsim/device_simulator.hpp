#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devsim/fault_plan.hpp"
#include "devsim/transfer_record.hpp"
#include "link/protocol.hpp"

namespace korvane::devsim {

struct SimulatorOptions {
    std::string bind_address = "127.0.0.1";
    std::uint16_t port = DEVICE_PORT;  // 0: an ephemeral port (see ListeningOn)
    std::filesystem::path out_dir;     // where good images are written; empty: not written
    std::array<std::uint8_t, MACHINE_CODE_SIZE> machine_code{0x11, 0x22, 0x33, 0x44,
                                                             0x55, 0x66, 0x77, 0x88};
    FaultPlan faults;
    // Keep every datagram (Received) and every finished transfer with its
    // image (Transfers) in memory, for tests. A long-running simulator turns
    // this off: a transfer is then forgotten once OnTransfer has reported it,
    // and both lists stay empty.
    bool keep_history = true;
};

// A simulated device answering the protocol on bind_address:port (the
// protocol itself is DeviceResponder's, the faults FaultPlan's). It owns its
// socket and one service thread from Start() until Stop() or destruction
// (which joins). The service thread answers each request and only then
// digests and writes the chunk it carried, so the requester's next datagram
// is on its way meanwhile; it waits for datagrams and for the stop request at
// once, so Stop() takes effect at once, also during a reply delay. Its
// accessors are safe from any thread.
class DeviceSimulator {
public:
    explicit DeviceSimulator(SimulatorOptions options);
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Binds and starts serving. Why not, in one line, when the address is not
    // an IPv4 address, cannot be bound (in use, not local), or the output
    // folder cannot be made; nothing once it serves.
    [[nodiscard]] std::optional<std::string> Start();
    // Ends the service thread and closes the socket. Idempotent; never call it
    // from an OnTransfer callback.
    void Stop();

    // Called on the service thread for every finished transfer, before the
    // reply to the datagram that ended it is sent.
    void OnTransfer(std::function<void(const TransferRecord&)> callback);

    [[nodiscard]] std::vector<TransferRecord> Transfers() const;
    // Every datagram received, in order of arrival.
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> Received() const;
    // Data and end datagrams that came while the download datagram before
    // them was left unanswered: a sender that ran ahead of the device.
    [[nodiscard]] std::uint64_t Overtaken() const;
    // Waits until `count` transfers have finished (kept in history or not);
    // false on time-out.
    [[nodiscard]] bool WaitForTransfers(std::size_t count, std::chrono::milliseconds timeout) const;

    // "A.B.C.D:PORT" as bound, once started.
    [[nodiscard]] std::string ListeningOn() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace korvane::devsim
