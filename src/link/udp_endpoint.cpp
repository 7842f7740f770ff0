#include "link/udp_endpoint.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace korvane {

UdpEndpoint::UdpEndpoint(DeviceReplyHandler& owner) : owner_(owner) {}

UdpEndpoint::~UdpEndpoint() {
    UdpEndpoint::Close();
}

bool UdpEndpoint::Open() {
    if (socket_.Valid()) {
        return false;
    }
    socket_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int enable = 1;
    if (!socket_.Valid() ||
        ::setsockopt(socket_.Get(), SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable) != 0) {
        socket_.Reset();
        return false;
    }
    receive_thread_ = std::make_unique<ReceiveThread>(*this, socket_.Get());
    if (!receive_thread_->Start()) {
        receive_thread_.reset();
        socket_.Reset();
        return false;
    }
    return true;
}

bool UdpEndpoint::Send(std::span<const std::uint8_t> datagram) {
    if (datagram.empty() || !socket_.Valid()) {
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(remote_port_);
    to.sin_addr = remote_address_;
    return ::sendto(socket_.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
}

bool UdpEndpoint::Close() {
    // The thread first, so the receive loop never works on a closed socket.
    if (receive_thread_) {
        receive_thread_->Stop();
        receive_thread_.reset();
    }
    socket_.Reset();
    return true;
}

bool UdpEndpoint::OnReceive(std::span<const std::uint8_t> datagram) {
    owner_.HandleDeviceReply(datagram);
    return true;
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
