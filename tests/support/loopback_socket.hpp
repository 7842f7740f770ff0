#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/wake_event.hpp"
#include "devsim/device_socket.hpp"
#include "link/device_address.hpp"

namespace korvane::testing {

// One received datagram and where it came from.
struct Datagram {
    std::vector<std::uint8_t> bytes;
    sockaddr_in from{};
};

// The address for a dotted text; throws on bad text or one outside
// 127.0.0.0/8, as tests talk to this machine only.
[[nodiscard]] inline sockaddr_in LoopbackAddress(const std::string& address, std::uint16_t port) {
    const auto parsed = ParseDeviceAddress(address);
    if (!parsed || (ntohl(parsed->s_addr) >> 24) != 127) {
        throw std::invalid_argument("not a loopback address: " + address);
    }
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr = *parsed;
    return result;
}

// The tests' one scripted peer, for where the exact bytes are the point: the
// simulated device's socket (bound to a loopback address, or not) that sends
// to 127.x only and receives with a time-out. Owned by one test thread;
// throws on a setup failure.
class LoopbackSocket {
public:
    // Binds to address:port (port 0: an ephemeral one); empty: not bound.
    explicit LoopbackSocket(const std::string& address = {}, std::uint16_t port = 0) {
        std::error_code error = socket_.Open();
        if (!error && !address.empty()) {
            error = socket_.Bind(LoopbackAddress(address, port).sin_addr, port);
        }
        if (error || !never_.Valid()) {
            throw std::runtime_error("socket " + address + ": " + error.message());
        }
    }

    // Sends `bytes` as one datagram; false on an error.
    bool SendTo(const sockaddr_in& to, std::span<const std::uint8_t> bytes) {
        if ((ntohl(to.sin_addr.s_addr) >> 24) != 127) {
            throw std::invalid_argument("tests send to 127.0.0.0/8 only");
        }
        return socket_.Send(std::span(&bytes, 1), to);
    }

    // The next datagram (up to 64 KiB), or nothing after `timeout`.
    [[nodiscard]] std::optional<Datagram> Receive(std::chrono::milliseconds timeout) {
        using std::chrono::steady_clock;
        const auto deadline = steady_clock::now() + timeout;
        Datagram datagram{.bytes = std::vector<std::uint8_t>(65536), .from = {}};
        while (true) {
            if (const auto n = socket_.Receive(datagram.bytes, datagram.from)) {
                datagram.bytes.resize(*n);
                return datagram;
            }
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
            if (left.count() <= 0 ||
                WaitForEither(socket_.ReadyHandle(), never_, left) != WaitResult::Ready) {
                return std::nullopt;
            }
        }
    }

private:
    devsim::DeviceSocket socket_;
    WakeEvent never_;  // the wait's other side, never set
};

}  // namespace korvane::testing
