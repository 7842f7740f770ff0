#include "link/udp_endpoint.hpp"

#include <vector>

namespace korvane {
namespace {

// How long the caller looks for a reply before it sleeps: a device on the
// same machine answers in 10 to 20 us; one that takes longer is slept for.
constexpr std::chrono::microseconds REPLY_POLL{50};

}  // namespace

UdpEndpoint::UdpEndpoint(DeviceReplyHandler& owner, ReceiveMode mode)
    : owner_(owner), mode_(mode) {}

UdpEndpoint::~UdpEndpoint() {
    Close();
}

std::error_code UdpEndpoint::Open() {
    if (const std::error_code error = socket_.Open(route_)) {
        return error;
    }
    if (mode_ == ReceiveMode::Caller) {
        poll_.emplace(REPLY_POLL);
        return {};
    }
    receive_thread_ = std::make_unique<ReceiveThread>(*this, socket_);
    if (!receive_thread_->Start()) {
        receive_thread_.reset();
        socket_.Close();
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
    if (route_.trace != nullptr) {
        route_.trace->Sent(remote_address_, head, tail);
    }
    if (!UdpSocket::KERNEL_STAMPS) {
        DropWaiting();
    }
    // Stamped before the datagram leaves: any reply to it arrives later. One
    // writer (the sender); release is all the receiving side needs.
    last_send_ns_.store(UdpSocket::NowNs(), std::memory_order_release);
    return socket_.SendTo(remote_address_, route_.port, head, tail);
}

void UdpEndpoint::Close() {
    // The thread first, so the receive loop never works on a closed socket.
    if (receive_thread_) {
        receive_thread_->Stop();
        receive_thread_.reset();
    }
    poll_.reset();
    socket_.Close();
}

void UdpEndpoint::OnReceive(std::span<const std::uint8_t> datagram) {
    owner_.HandleDeviceReply(datagram);
}

void UdpEndpoint::OnArrival(std::span<const std::uint8_t> datagram, std::int64_t arrived_ns) {
    // One that was waiting in the socket before the latest request went out answers nothing.
    const bool stale =
        arrived_ns != 0 && arrived_ns < last_send_ns_.load(std::memory_order_acquire);
    if (route_.trace != nullptr) {
        route_.trace->Received(remote_address_, datagram, stale);
    }
    if (!stale) {
        OnReceive(datagram);
    }
}

void UdpEndpoint::DropWaiting() {
    std::vector<std::uint8_t> buffer(ReceiveThread::RECV_BUFFER_SIZE);
    while (const auto arrival = socket_.Receive(buffer, false)) {
        if (route_.trace != nullptr && arrival->size <= buffer.size()) {
            route_.trace->Received(remote_address_, std::span(buffer).first(arrival->size), true);
        }
    }
}

void UdpEndpoint::ReceiveFor(std::chrono::milliseconds timeout) {
    if (!socket_.Valid() || receive_thread_) {
        return;  // with a receive thread, that thread alone receives
    }
    const auto take = [this] { return ReceiveOne(socket_, *this, false); };
    if (timeout.count() <= 0) {
        (void)take();
        return;
    }
    if (poll_ && poll_->Poll(take)) {
        return;
    }
    // Then sleep in one blocking read bounded by SO_RCVTIMEO, set again only
    // when the bound changes (the last slice of a wait).
    if (timeout != receive_timeout_) {
        if (!socket_.SetReceiveBound(timeout)) {
            return;
        }
        receive_timeout_ = timeout;
    }
    // One datagram: the caller looks at what it did before receiving more (an
    // acknowledgement ends its wait; a duplicate left waiting is then older
    // than the next send and is dropped).
    (void)ReceiveOne(socket_, *this, true);
}

std::uint16_t UdpEndpoint::LocalPort() const {
    return socket_.LocalPort();
}

}  // namespace korvane
