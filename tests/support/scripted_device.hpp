#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.hpp"
#include "support/loopback_socket.hpp"

namespace korvane::testing {

// A stand-in device for exact reply tests: bound to ADDRESS:21818, it answers
// the k-th datagram it receives with the k-th scripted reply (nothing when that
// reply is nullopt or the script is used up), after an optional delay. Owns its
// socket and one thread from construction until destruction (joined).
class ScriptedDevice {
public:
    struct Reply {
        std::optional<std::vector<std::uint8_t>> bytes;  // nullopt: stay silent
        std::chrono::milliseconds delay{0};
    };

    ScriptedDevice(const std::string& address, std::vector<Reply> script);
    ~ScriptedDevice();
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    // Every datagram received so far, in order.
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> Received() const;

private:
    void Serve();

    LoopbackSocket socket_;
    UniqueFd wake_read_;
    UniqueFd wake_write_;
    std::vector<Reply> script_;
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> received_;
    std::thread thread_;
};

}  // namespace korvane::testing
