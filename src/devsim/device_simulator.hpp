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

#include "link/protocol.hpp"

namespace korvane::devsim {

// Faults the simulated device can inject. N counts every datagram the
// simulator has received since it started, from 1.
struct FaultPlan {
    std::optional<std::uint32_t> refuse_nth;      // reply to datagram N with status 0x15
    std::optional<std::uint32_t> drop_reply_nth;  // send no reply to datagram N
    std::chrono::milliseconds reply_delay{0};     // delay every reply
    bool duplicate_acks = false;                  // send every acknowledgement twice
    bool garbage_before_reply = false;            // short, unknown-code and oversized datagrams first
};

struct SimulatorOptions {
    std::string bind_address = "127.0.0.1";
    std::uint16_t port = DEVICE_PORT;
    std::filesystem::path out_dir;  // where good images are written; empty: not written
    std::array<std::uint8_t, MACHINE_CODE_SIZE> machine_code{0x11, 0x22, 0x33, 0x44,
                                                             0x55, 0x66, 0x77, 0x88};
    FaultPlan faults;
};

// One transfer that reached its end datagram.
struct TransferRecord {
    std::uint32_t length = 0;       // as the header declared it
    Digest md5{};                   // MD5 of the bytes received
    bool ok = false;                // length and MD5 matched the header
    std::filesystem::path path;     // out_dir/<md5>.bin when written
    std::vector<std::uint8_t> image;
    std::vector<std::uint16_t> sequences;  // of every datagram of the transfer, in arrival order
};

// A simulated device answering the protocol on bind_address:port. It owns its
// socket and one service thread from Start() until Stop() or destruction
// (which joins). Its accessors are safe from any thread.
class DeviceSimulator {
public:
    explicit DeviceSimulator(SimulatorOptions options);
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Binds and starts serving; false with `error` set when the address cannot be bound.
    [[nodiscard]] bool Start(std::string& error);
    void Stop();

    // Called on the service thread for every finished transfer.
    void OnTransfer(std::function<void(const TransferRecord&)> callback);

    [[nodiscard]] std::vector<TransferRecord> Transfers() const;
    // Every datagram received, in order of arrival.
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> Received() const;
    // Waits until `count` transfers have finished; false on time-out.
    [[nodiscard]] bool WaitForTransfers(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace korvane::devsim
