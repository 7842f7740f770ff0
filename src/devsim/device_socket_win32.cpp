#include <winsock2.h>
#include <ws2tcpip.h>

#include "base/socket_layer.hpp"
#include "devsim/device_socket.hpp"

namespace korvane::devsim {
namespace {

// Not in every mingw-w64 header set; the value is Winsock's own.
constexpr DWORD UDP_CONNRESET = _WSAIOW(IOC_VENDOR, 12);

}  // namespace

DeviceSocket::~DeviceSocket() {
    if (socket_ != NONE) {
        ::closesocket(socket_);
    }
    if (ready_ != nullptr) {
        ::WSACloseEvent(ready_);
    }
}

std::error_code DeviceSocket::Open(int receive_room) {
    if (!SocketsReady()) {
        return SocketError(WSAENETDOWN);
    }
    socket_ =
        ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket_ == NONE) {
        return LastSocketError();
    }
    if (receive_room > 0) {
        (void)::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF,
                           reinterpret_cast<const char*>(&receive_room), sizeof receive_room);
    }
    // A requester that went away would otherwise fail the next receive with
    // WSAECONNRESET (its ICMP "port unreachable"); POSIX never reports it here.
    BOOL report = FALSE;
    DWORD unused = 0;
    (void)::WSAIoctl(socket_, UDP_CONNRESET, &report, sizeof report, nullptr, 0, &unused, nullptr,
                     nullptr);
    // Readiness as an event the service thread waits on together with its
    // wake-up; this also makes the socket non-blocking.
    ready_ = ::WSACreateEvent();
    if (ready_ == WSA_INVALID_EVENT) {
        ready_ = nullptr;
        return LastSocketError();
    }
    if (::WSAEventSelect(socket_, ready_, FD_READ) != 0) {
        return LastSocketError();
    }
    return {};
}

std::error_code DeviceSocket::Bind(in_addr address, std::uint16_t port) {
    // Without it a socket with SO_REUSEADDR could take the address over.
    const BOOL exclusive = TRUE;
    (void)::setsockopt(socket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                       reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr = address;
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return LastSocketError();
    }
    return {};
}

std::error_code DeviceSocket::LocalAddress(sockaddr_in& local) const {
    int size = sizeof local;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return LastSocketError();
    }
    return {};
}

WakeEvent::NativeHandle DeviceSocket::ReadyHandle() const noexcept {
    return ready_;
}

std::optional<std::size_t> DeviceSocket::Receive(std::span<std::uint8_t> buffer,
                                                 sockaddr_in& from) {
    // The event is cleared before the read: Winsock sets it again at the read
    // when more is waiting, so nothing that came meanwhile is missed.
    ::WSAResetEvent(ready_);
    int from_size = sizeof from;
    const int n =
        ::recvfrom(socket_, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()),
                   0, reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n == SOCKET_ERROR) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(n);
}

bool DeviceSocket::Send(std::span<const std::span<const std::uint8_t>> datagrams,
                        const sockaddr_in& to) {
    // Winsock has no call for several datagrams: one sendto each, back to back.
    bool all = true;
    for (const auto& datagram : datagrams) {
        all = ::sendto(socket_, reinterpret_cast<const char*>(datagram.data()),
                       static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof to) != SOCKET_ERROR &&
              all;
    }
    return all;
}

}  // namespace korvane::devsim
