#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "base/socket_layer.hpp"
#include "devsim/device_socket.hpp"

namespace korvane::devsim {

DeviceSocket::~DeviceSocket() {
    if (socket_ != NONE) {
        ::close(socket_);
    }
}

std::error_code DeviceSocket::Open(int receive_room) {
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ == NONE) {
        return LastSocketError();
    }
    // Past the capped SO_RCVBUF where the process is privileged enough.
    if (receive_room > 0 && ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &receive_room,
                                         sizeof receive_room) != 0) {
        (void)::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receive_room, sizeof receive_room);
    }
    return {};
}

std::error_code DeviceSocket::Bind(in_addr address, std::uint16_t port) {
    // No SO_REUSEADDR, so the address is this socket's alone.
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
    socklen_t size = sizeof local;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return LastSocketError();
    }
    return {};
}

WakeEvent::NativeHandle DeviceSocket::ReadyHandle() const noexcept {
    return socket_;
}

std::optional<std::size_t> DeviceSocket::Receive(std::span<std::uint8_t> buffer,
                                                 sockaddr_in& from) {
    socklen_t from_size = sizeof from;
    const ssize_t n = ::recvfrom(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(n);
}

bool DeviceSocket::Send(std::span<const std::span<const std::uint8_t>> datagrams,
                        const sockaddr_in& to) {
    const auto* address = reinterpret_cast<const sockaddr*>(&to);
    if (datagrams.size() == 1) {  // the usual reply: the plainest call
        const auto bytes = datagrams.front();
        return ::sendto(socket_, bytes.data(), bytes.size(), 0, address, sizeof to) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool all = true;
    while (!datagrams.empty()) {
        const auto burst = datagrams.first(std::min(datagrams.size(), MAX_BURST));
        std::array<iovec, MAX_BURST> parts{};
        std::array<mmsghdr, MAX_BURST> messages{};
        for (std::size_t i = 0; i < burst.size(); ++i) {
            parts[i] = iovec{.iov_base = const_cast<std::uint8_t*>(burst[i].data()),
                             .iov_len = burst[i].size()};
            messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&to);
            messages[i].msg_hdr.msg_namelen = sizeof to;
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int sent =
            ::sendmmsg(socket_, messages.data(), static_cast<unsigned>(burst.size()), 0);
        all = all && sent >= 0 && static_cast<std::size_t>(sent) == burst.size();
        datagrams = datagrams.subspan(burst.size());
    }
    return all;
}

}  // namespace korvane::devsim
