#include "link/udp_endpoint.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>

#include <array>
#include <cerrno>
#include <ctime>

namespace korvane {
namespace {

std::error_code LastError() noexcept {
    return {errno, std::system_category()};
}

std::int64_t RealtimeNs() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

UdpEndpoint::UdpEndpoint(DeviceReplyHandler& owner, ReceiveMode mode)
    : owner_(owner), mode_(mode) {}

UdpEndpoint::~UdpEndpoint() {
    Close();
}

std::error_code UdpEndpoint::Open() {
    if (socket_.Valid()) {
        return std::make_error_code(std::errc::already_connected);
    }
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int enable = 1;
    if (!socket.Valid() ||
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable) != 0) {
        return LastError();
    }
    if (!route_.interface.empty() &&
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_BINDTODEVICE, route_.interface.c_str(),
                     static_cast<socklen_t>(route_.interface.size())) != 0) {
        return LastError();
    }
    if (route_.source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr = *route_.source;
        if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            return LastError();
        }
    }
    // Arrival stamps are what tells a fresh reply from one that was already
    // waiting when the request went out; without them every reply counts.
    (void)::setsockopt(socket.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &enable, sizeof enable);
    socket_ = std::move(socket);
    if (mode_ == ReceiveMode::Caller) {
        return {};
    }
    receive_thread_ = std::make_unique<ReceiveThread>(*this, socket_.Get());
    if (!receive_thread_->Start()) {
        receive_thread_.reset();
        socket_.Reset();
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    }
    return {};
}

std::error_code UdpEndpoint::Send(std::span<const std::uint8_t> head,
                                  std::span<const std::uint8_t> tail) {
    if (head.empty() && tail.empty()) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (!socket_.Valid()) {
        return std::make_error_code(std::errc::not_connected);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(route_.port);
    to.sin_addr = remote_address_;
    std::array<iovec, 2> parts{{
        {.iov_base = const_cast<std::uint8_t*>(head.data()), .iov_len = head.size()},
        {.iov_base = const_cast<std::uint8_t*>(tail.data()), .iov_len = tail.size()},
    }};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = parts.data();
    message.msg_iovlen = tail.empty() ? 1 : 2;
    if (route_.trace != nullptr) {
        route_.trace->Sent(remote_address_, head, tail);
    }
    // Stamped before the datagram leaves: any reply to it arrives later.
    last_send_ns_.store(RealtimeNs());
    if (::sendmsg(socket_.Get(), &message, MSG_NOSIGNAL) < 0) {
        return LastError();
    }
    return {};
}

void UdpEndpoint::Close() {
    // The thread first, so the receive loop never works on a closed socket.
    if (receive_thread_) {
        receive_thread_->Stop();
        receive_thread_.reset();
    }
    socket_.Reset();
}

void UdpEndpoint::OnReceive(std::span<const std::uint8_t> datagram) {
    owner_.HandleDeviceReply(datagram);
}

void UdpEndpoint::OnArrival(std::span<const std::uint8_t> datagram, std::int64_t arrived_ns) {
    // One that was waiting in the socket before the latest request went out answers nothing.
    const bool stale = arrived_ns != 0 && arrived_ns < last_send_ns_.load();
    if (route_.trace != nullptr) {
        route_.trace->Received(remote_address_, datagram, stale);
    }
    if (!stale) {
        OnReceive(datagram);
    }
}

void UdpEndpoint::ReceiveFor(std::chrono::milliseconds timeout) {
    if (!socket_.Valid() || receive_thread_) {
        return;  // with a receive thread, that thread alone receives
    }
    if (timeout.count() <= 0) {
        (void)ReceiveOne(socket_.Get(), *this, MSG_DONTWAIT);
        return;
    }
    // One system call per wait: a blocking read bounded by SO_RCVTIMEO, set
    // again only when the bound changes (the last slice of a wait).
    if (timeout != receive_timeout_) {
        const timeval bound{.tv_sec = timeout.count() / 1000,
                            .tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
        if (::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) != 0) {
            return;
        }
        receive_timeout_ = timeout;
    }
    // One datagram: the caller looks at what it did before receiving more (an
    // acknowledgement ends its wait; a duplicate left waiting is then older
    // than the next send and is dropped).
    (void)ReceiveOne(socket_.Get(), *this, 0);
}

std::uint16_t UdpEndpoint::LocalPort() const {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (!socket_.Valid() ||
        ::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

}  // namespace korvane
