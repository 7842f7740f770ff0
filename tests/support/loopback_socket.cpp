#include "support/loopback_socket.hpp"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace korvane::testing {

sockaddr_in LoopbackAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    if (inet_aton(address.c_str(), &result.sin_addr) == 0) {
        throw std::invalid_argument("bad address " + address);
    }
    // Tests talk to this machine only.
    if ((ntohl(result.sin_addr.s_addr) >> 24) != 127) {
        throw std::invalid_argument("not a loopback address: " + address);
    }
    return result;
}

LoopbackSocket::LoopbackSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (!fd_) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
}

LoopbackSocket::LoopbackSocket(const std::string& address, std::uint16_t port) : LoopbackSocket() {
    const sockaddr_in local = LoopbackAddress(address, port);
    if (::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throw std::runtime_error("bind " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(errno));
    }
}

bool LoopbackSocket::SendTo(const sockaddr_in& to, std::span<const std::uint8_t> bytes) const {
    if ((ntohl(to.sin_addr.s_addr) >> 24) != 127) {
        throw std::invalid_argument("tests send to 127.0.0.0/8 only");
    }
    return ::sendto(fd_.Get(), bytes.data(), bytes.size(), 0,
                    reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(bytes.size());
}

bool LoopbackSocket::SendTo(const std::string& address, std::uint16_t port,
                            std::span<const std::uint8_t> bytes) const {
    return SendTo(LoopbackAddress(address, port), bytes);
}

std::optional<Datagram> LoopbackSocket::Receive(std::chrono::milliseconds timeout) const {
    pollfd ready{.fd = fd_.Get(), .events = POLLIN, .revents = 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    Datagram datagram;
    datagram.bytes.resize(65536);
    socklen_t size = sizeof datagram.from;
    const ssize_t n = ::recvfrom(fd_.Get(), datagram.bytes.data(), datagram.bytes.size(),
                                 MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&datagram.from), &size);
    if (n < 0) {
        return std::nullopt;
    }
    datagram.bytes.resize(static_cast<std::size_t>(n));
    return datagram;
}

std::vector<std::uint8_t> LoopbackSocket::ReceiveBytes(std::chrono::milliseconds timeout) const {
    auto datagram = Receive(timeout);
    return datagram ? std::move(datagram->bytes) : std::vector<std::uint8_t>();
}

std::vector<std::vector<std::uint8_t>> LoopbackSocket::ReceiveUntilQuiet(
    std::chrono::milliseconds quiet) const {
    constexpr std::size_t RECEIVE_BUFFER = 5200;
    std::vector<std::vector<std::uint8_t>> got;
    while (auto datagram = Receive(quiet)) {
        got.push_back(datagram->bytes.size() > RECEIVE_BUFFER ? std::vector<std::uint8_t>{0xEE}
                                                              : datagram->bytes);
    }
    return got;
}

std::uint16_t LoopbackSocket::LocalPort() const {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

}  // namespace korvane::testing
