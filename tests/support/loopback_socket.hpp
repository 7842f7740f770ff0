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

// The tests' one scripted peer, for where the exact bytes are the point: a UDP
// socket (bound to a loopback address, or not) that sends to 127.x only and
// receives with a time-out. Owned by one test thread; throws on a setup failure.
class LoopbackSocket {
public:
    // Binds to address:port (port 0: an ephemeral one); empty: not bound.
    explicit LoopbackSocket(const std::string& address = {}, std::uint16_t port = 0)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in local = address.empty() ? sockaddr_in{} : LoopbackAddress(address, port);
        if (!fd_ ||
            (!address.empty() &&
             ::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)) {
            throw std::runtime_error("socket " + address + ": " + std::strerror(errno));
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

    // The next datagram (up to 64 KiB), or nothing after `timeout`.
    [[nodiscard]] std::optional<Datagram> Receive(std::chrono::milliseconds timeout) const {
        pollfd ready{.fd = fd_.Get(), .events = POLLIN, .revents = 0};
        Datagram datagram{.bytes = std::vector<std::uint8_t>(65536), .from = {}};
        socklen_t size = sizeof datagram.from;
        const ssize_t n =
            ::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0
                ? -1
                : ::recvfrom(fd_.Get(), datagram.bytes.data(), datagram.bytes.size(), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&datagram.from), &size);
        if (n < 0) {
            return std::nullopt;
        }
        datagram.bytes.resize(static_cast<std::size_t>(n));
        return datagram;
    }

private:
    UniqueFd fd_;
};

}  // namespace korvane::testing
