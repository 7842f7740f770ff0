#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/unique_fd.hpp"

namespace korvane::testing {

// One received datagram and where it came from.
struct Datagram {
    std::vector<std::uint8_t> bytes;
    sockaddr_in from{};
};

// A plain UDP socket for tests that play the other side of the wire: bind it
// to a loopback address, send to any 127.x address, receive with a time-out.
// Owned by one test thread. Aborts the test (throws) on a setup failure.
class LoopbackSocket {
public:
    // Binds to address:port (port 0: an ephemeral one). Throws when it cannot.
    explicit LoopbackSocket(const std::string& address, std::uint16_t port = 0);
    // An unbound socket (the first send binds it to 0.0.0.0:ephemeral).
    LoopbackSocket();

    // Sends `bytes` as one datagram; false on an error.
    bool SendTo(const sockaddr_in& to, std::span<const std::uint8_t> bytes) const;
    bool SendTo(const std::string& address, std::uint16_t port,
                std::span<const std::uint8_t> bytes) const;
    // The next datagram (any size up to 64 KiB), or nothing after `timeout`.
    [[nodiscard]] std::optional<Datagram> Receive(std::chrono::milliseconds timeout) const;
    // The bytes of the next datagram; none (an empty vector) after `timeout`.
    [[nodiscard]] std::vector<std::uint8_t> ReceiveBytes(std::chrono::milliseconds timeout) const;
    // Every datagram until none has come for `quiet`, in order; one larger than
    // the receive buffer (5200 bytes) stands as the single byte 0xEE, so that
    // tests can name it.
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> ReceiveUntilQuiet(
        std::chrono::milliseconds quiet) const;

    [[nodiscard]] std::uint16_t LocalPort() const;
    [[nodiscard]] int Fd() const noexcept { return fd_.Get(); }

private:
    UniqueFd fd_;
};

// The IPv4 address for a dotted text, for tests (throws on bad text).
[[nodiscard]] sockaddr_in LoopbackAddress(const std::string& address, std::uint16_t port);

}  // namespace korvane::testing
