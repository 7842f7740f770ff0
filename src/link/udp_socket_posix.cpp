#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/udp_socket.hpp"

namespace korvane {
namespace {

std::error_code LastError() noexcept {
    return {errno, std::system_category()};
}

// The kernel's arrival stamp (SO_TIMESTAMPNS) in nanoseconds; 0 without one.
std::int64_t ArrivalStamp(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            return std::int64_t{stamp.tv_sec} * 1'000'000'000 + stamp.tv_nsec;
        }
    }
    return 0;
}

}  // namespace

const bool UdpSocket::KERNEL_STAMPS = true;

UdpSocket::~UdpSocket() {
    Close();
}

std::error_code UdpSocket::Open(const LinkRoute& route) {
    if (Valid()) {
        return std::make_error_code(std::errc::already_connected);
    }
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int enable = 1;
    if (!Valid() || ::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable) != 0) {
        const std::error_code error = LastError();
        Close();
        return error;
    }
    if (!route.interface.empty() &&
        ::setsockopt(socket_, SOL_SOCKET, SO_BINDTODEVICE, route.interface.c_str(),
                     static_cast<socklen_t>(route.interface.size())) != 0) {
        const std::error_code error = LastError();
        Close();
        return error;
    }
    if (route.source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr = *route.source;
        if (::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            const std::error_code error = LastError();
            Close();
            return error;
        }
    }
    // Arrival stamps are what tells a fresh reply from one that was already
    // waiting when the request went out; without them every reply counts.
    (void)::setsockopt(socket_, SOL_SOCKET, SO_TIMESTAMPNS, &enable, sizeof enable);
    return {};
}

bool UdpSocket::Valid() const noexcept {
    return socket_ >= 0;
}

void UdpSocket::Close() noexcept {
    if (Valid()) {
        ::close(socket_);
        socket_ = NONE;
    }
}

std::error_code UdpSocket::SendTo(in_addr to, std::uint16_t port,
                                  std::span<const std::uint8_t> head,
                                  std::span<const std::uint8_t> tail) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr = to;
    std::array<iovec, 2> parts{{
        {.iov_base = const_cast<std::uint8_t*>(head.data()), .iov_len = head.size()},
        {.iov_base = const_cast<std::uint8_t*>(tail.data()), .iov_len = tail.size()},
    }};
    msghdr message{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = parts.data();
    message.msg_iovlen = tail.empty() ? 1 : 2;
    if (::sendmsg(socket_, &message, MSG_NOSIGNAL) < 0) {
        return LastError();
    }
    return {};
}

std::optional<UdpSocket::Arrival> UdpSocket::Receive(std::span<std::uint8_t> buffer, bool wait) {
    sockaddr_storage sender{};
    iovec into{.iov_base = buffer.data(), .iov_len = buffer.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec))> control{};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &into;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    // MSG_TRUNC reports a datagram's real size, so one that does not fit the
    // buffer is recognised instead of handed over cut short.
    const ssize_t n = ::recvmsg(socket_, &message, (wait ? 0 : MSG_DONTWAIT) | MSG_TRUNC);
    if (n < 0) {
        return std::nullopt;
    }
    return Arrival{.size = static_cast<std::size_t>(n), .arrived_ns = ArrivalStamp(message)};
}

bool UdpSocket::SetReceiveBound(std::chrono::milliseconds bound) {
    const timeval limit{.tv_sec = bound.count() / 1000,
                        .tv_usec = static_cast<suseconds_t>(bound.count() % 1000 * 1000)};
    return ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

bool UdpSocket::WaitReadable(std::chrono::milliseconds limit) {
    pollfd ready{.fd = socket_, .events = POLLIN, .revents = 0};
    return ::poll(&ready, 1, static_cast<int>(limit.count())) > 0;
}

std::uint16_t UdpSocket::LocalPort() const {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (!Valid() || ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

std::int64_t UdpSocket::NowNs() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace korvane
