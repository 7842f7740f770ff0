#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <chrono>

#include "base/socket_layer.hpp"
#include "link/udp_socket.hpp"

namespace korvane {
namespace {

// Not in every mingw-w64 header set; the value is Winsock's own.
constexpr DWORD UDP_CONNRESET = _WSAIOW(IOC_VENDOR, 12);

std::error_code LastError() noexcept {
    return LastSocketError();
}

}  // namespace

// Winsock has no arrival stamp for a datagram: Receive stamps it when it reads it.
const bool UdpSocket::KERNEL_STAMPS = false;

UdpSocket::~UdpSocket() {
    Close();
}

std::error_code UdpSocket::Open(const LinkRoute& route) {
    if (Valid()) {
        return std::make_error_code(std::errc::already_connected);
    }
    if (!route.interface.empty()) {
        // Windows has no per-socket binding to an interface by name.
        return SocketError(WSAEOPNOTSUPP);
    }
    if (!SocketsReady()) {
        return SocketError(WSAENETDOWN);
    }
    socket_ =
        ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    const BOOL enable = TRUE;
    u_long nonblocking = 1;
    if (!Valid() ||
        ::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&enable),
                     sizeof enable) != 0 ||
        ::ioctlsocket(socket_, FIONBIO, &nonblocking) != 0) {
        const std::error_code error = LastError();
        Close();
        return error;
    }
    // A device's ICMP "port unreachable" would otherwise fail the next
    // receive with WSAECONNRESET; on POSIX an unconnected socket never sees it.
    BOOL report = FALSE;
    DWORD unused = 0;
    (void)::WSAIoctl(socket_, UDP_CONNRESET, &report, sizeof report, nullptr, 0, &unused, nullptr,
                     nullptr);
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
    return {};
}

bool UdpSocket::Valid() const noexcept {
    return socket_ != NONE;
}

void UdpSocket::Close() noexcept {
    if (Valid()) {
        ::closesocket(socket_);
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
    std::array<WSABUF, 2> parts{{
        {.len = static_cast<ULONG>(head.size()),
         .buf = reinterpret_cast<CHAR*>(const_cast<std::uint8_t*>(head.data()))},
        {.len = static_cast<ULONG>(tail.size()),
         .buf = reinterpret_cast<CHAR*>(const_cast<std::uint8_t*>(tail.data()))},
    }};
    DWORD sent = 0;
    if (::WSASendTo(socket_, parts.data(), tail.empty() ? 1 : 2, &sent, 0,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address, nullptr,
                    nullptr) != 0) {
        return LastError();
    }
    return {};
}

std::optional<UdpSocket::Arrival> UdpSocket::Receive(std::span<std::uint8_t> buffer, bool wait) {
    // The socket is non-blocking: a waiting receive first waits for readiness.
    if (wait && !WaitReadable(receive_bound_)) {
        return std::nullopt;
    }
    sockaddr_storage sender{};
    int sender_size = sizeof sender;
    const int n =
        ::recvfrom(socket_, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()),
                   0, reinterpret_cast<sockaddr*>(&sender), &sender_size);
    const std::int64_t now = NowNs();
    if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE) {
        // Cut short and gone: reported as larger than the buffer, so it is dropped.
        return Arrival{.size = buffer.size() + 1, .arrived_ns = now};
    }
    if (n == SOCKET_ERROR) {
        return std::nullopt;
    }
    return Arrival{.size = static_cast<std::size_t>(n), .arrived_ns = now};
}

bool UdpSocket::SetReceiveBound(std::chrono::milliseconds bound) {
    receive_bound_ = bound;
    return true;
}

bool UdpSocket::WaitReadable(std::chrono::milliseconds limit) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval bound{.tv_sec = static_cast<long>(limit.count() / 1000),
                  .tv_usec = static_cast<long>(limit.count() % 1000 * 1000)};
    return ::select(0, &readable, nullptr, nullptr, &bound) > 0;
}

std::uint16_t UdpSocket::LocalPort() const {
    sockaddr_in local{};
    int size = sizeof local;
    if (!Valid() || ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

std::int64_t UdpSocket::NowNs() noexcept {
    // Only compared with stamps Receive makes from the same clock: the
    // steady clock, which no change of the system time moves.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace korvane
