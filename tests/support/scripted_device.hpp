#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/protocol.hpp"
#include "support/loopback_socket.hpp"

namespace korvane::testing {

// A stand-in device for exact reply tests: bound to ADDRESS:21818, it answers
// the k-th datagram it receives with the k-th scripted reply (nothing when that
// reply is nullopt or the script is used up). Owns its socket and one thread
// from construction until destruction (stopped and joined).
class ScriptedDevice {
public:
    struct Reply {
        std::optional<std::vector<std::uint8_t>> bytes;  // nullopt: stay silent
    };

    ScriptedDevice(const std::string& address, std::vector<Reply> script)
        : socket_(address, DEVICE_PORT), script_(std::move(script)) {}

    // Every datagram received so far, in order.
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> Received() const {
        const std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void Serve(const std::stop_token& stop) {
        // Short receive slices, so that a stop is seen within 20 ms.
        for (std::size_t next = 0; !stop.stop_requested();) {
            if (const auto datagram = socket_.Receive(std::chrono::milliseconds(20))) {
                const std::lock_guard lock(mutex_);
                received_.push_back(datagram->bytes);
                if (next < script_.size() && script_[next].bytes) {
                    (void)socket_.SendTo(datagram->from, *script_[next].bytes);
                }
                ++next;
            }
        }
    }

    LoopbackSocket socket_;
    std::vector<Reply> script_;
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> received_;
    // Last: stopped and joined before the members it uses go.
    std::jthread thread_{[this](const std::stop_token& stop) { Serve(stop); }};
};

}  // namespace korvane::testing
