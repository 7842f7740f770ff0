#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/unique_fd.hpp"

namespace korvane::testing {

// One received datagram and where it came from.
struct Datagram {
    std::vector<std::uint8_t> bytes;
    sockaddr_in from{};
};

// The address for a dotted text; throws on bad text or one outside
// 127.0.0.0/8, as tests talk to this machine only.
[[nodiscard]] inline sockaddr_in LoopbackAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in result{
        .sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {}, .sin_zero = {}};
    if (inet_aton(address.c_str(), &result.sin_addr) == 0 ||
        (ntohl(result.sin_addr.s_addr) >> 24) != 127) {
        throw std::invalid_argument("not a loopback address: " + address);
    }
    return result;
}

// A plain UDP socket for tests that play the other side of the wire: bound to
// a loopback address (or unbound until its first send), it sends to 127.x
// addresses only and receives with a time-out. Owned by one test thread;
// throws on a setup failure.
class LoopbackSocket {
public:
    LoopbackSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        if (!fd_) {
            throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
        }
    }
    // Binds to address:port (port 0: an ephemeral one).
    explicit LoopbackSocket(const std::string& address, std::uint16_t port = 0) : LoopbackSocket() {
        const sockaddr_in local = LoopbackAddress(address, port);
        if (::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            throw std::runtime_error("bind " + address + ": " + std::strerror(errno));
        }
    }

    // Sends `bytes` as one datagram; false on an error.
    bool SendTo(const sockaddr_in& to, std::span<const std::uint8_t> bytes) const {
        if ((ntohl(to.sin_addr.s_addr) >> 24) != 127) {
            throw std::invalid_argument("tests send to 127.0.0.0/8 only");
        }
        return ::sendto(fd_.Get(), bytes.data(), bytes.size(), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to) == std::ssize(bytes);
    }
    bool SendTo(const std::string& address, std::uint16_t port,
                std::span<const std::uint8_t> bytes) const {
        return SendTo(LoopbackAddress(address, port), bytes);
    }

    // The next datagram (up to 64 KiB), or nothing after `timeout`.
    [[nodiscard]] std::optional<Datagram> Receive(std::chrono::milliseconds timeout) const {
        pollfd ready{.fd = fd_.Get(), .events = POLLIN, .revents = 0};
        if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) {
            return std::nullopt;
        }
        Datagram datagram{.bytes = std::vector<std::uint8_t>(65536), .from = {}};
        socklen_t size = sizeof datagram.from;
        const ssize_t n =
            ::recvfrom(fd_.Get(), datagram.bytes.data(), datagram.bytes.size(), MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&datagram.from), &size);
        if (n < 0) {
            return std::nullopt;
        }
        datagram.bytes.resize(static_cast<std::size_t>(n));
        return datagram;
    }
    // The bytes of the next datagram; none (an empty vector) after `timeout`.
    [[nodiscard]] std::vector<std::uint8_t> ReceiveBytes(std::chrono::milliseconds timeout) const {
        auto datagram = Receive(timeout);
        return datagram ? std::move(datagram->bytes) : std::vector<std::uint8_t>();
    }
    // Every datagram until none has come for `quiet`, in order; one larger than
    // the receive buffer (5200 bytes) stands as the single byte 0xEE.
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> ReceiveUntilQuiet(
        std::chrono::milliseconds quiet) const {
        std::vector<std::vector<std::uint8_t>> got;
        while (auto datagram = Receive(quiet)) {
            got.push_back(datagram->bytes.size() > 5200 ? std::vector<std::uint8_t>{0xEE}
                                                        : datagram->bytes);
        }
        return got;
    }

private:
    UniqueFd fd_;
};

}  // namespace korvane::testing
