#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <system_error>

#include "base/inet.hpp"
#include "base/poll_window.hpp"
#include "link/device_reply_handler.hpp"
#include "link/link_route.hpp"
#include "link/receive_thread.hpp"
#include "link/udp_socket.hpp"

namespace korvane {

// A UDP socket aimed at one device, with broadcast allowed, and the receive
// thread that hands every datagram arriving on it to the owner's
// HandleDeviceReply. The socket is bound only to a source address or
// interface the route names; otherwise the first send picks an ephemeral
// port, and replies come back to it. One endpoint serves one
// exchange (a download, a maintenance request) as a local object of the
// thread that uses it; destroying it stops the receive thread, then closes the
// socket. The owner must outlive the endpoint.
//
// A reply can only answer a request sent before it arrived. The kernel stamps
// every datagram as it arrives; one stamped before the latest send (a
// duplicate or a late reply that waited in the socket while the request went
// out) is dropped unseen, so it can never release the new request's wait.
// Where the system gives no such stamps (Windows), what waits in the socket
// is read and dropped right before each send instead.
//
// In ReceiveMode::Caller there is no receive thread: the thread that sends
// also receives (ReceiveFor), so a reply is handled the moment it arrives,
// with no hand-off between threads and no pause. Where a core is free, it
// first looks for the reply for a short PollWindow before it sleeps.
class UdpEndpoint {
public:
    enum class ReceiveMode {
        Thread,  // a ReceiveThread with its readiness wait, drain and pause
        Caller,  // the owner's thread receives with ReceiveFor
    };

    explicit UdpEndpoint(DeviceReplyHandler& owner, ReceiveMode mode = ReceiveMode::Thread);
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    // Set before Open.
    void SetRemote(in_addr address, LinkRoute route = {}) {
        remote_address_ = address;
        route_ = std::move(route);
    }

    // No error when the socket exists, allows broadcast, is bound as the
    // route asks and (ReceiveMode::Thread) the receive thread runs.
    [[nodiscard]] std::error_code Open();
    // Sends `head` followed by `tail` as one datagram, without copying them
    // together; the system's error when it cannot go out (EINVAL when empty).
    [[nodiscard]] std::error_code Send(std::span<const std::uint8_t> head,
                                       std::span<const std::uint8_t> tail = {});
    // Stops the receive thread, then closes the socket.
    void Close();

    // Called by the receive thread for every datagram, with its arrival stamp
    // (UdpSocket::NowNs's clock; 0 when the system gave none):
    // drops it when it arrived before the latest send, else OnReceive.
    void OnArrival(std::span<const std::uint8_t> datagram, std::int64_t arrived_ns);

    // ReceiveMode::Caller: waits at most `timeout` for a datagram and hands it
    // over through OnArrival, on the calling thread.
    void ReceiveFor(std::chrono::milliseconds timeout);

    // The local port the first send bound the socket to (0 before it).
    [[nodiscard]] std::uint16_t LocalPort() const;

private:
    // Hands one received datagram to the owner, on the thread that received it.
    void OnReceive(std::span<const std::uint8_t> datagram);
    // Without arrival stamps: reads what waits in the socket, as answering nothing.
    void DropWaiting();

    DeviceReplyHandler& owner_;
    const ReceiveMode mode_;
    in_addr remote_address_{};
    LinkRoute route_;
    UdpSocket socket_;
    // UdpSocket::NowNs just before the latest send, the clock of the stamps.
    std::atomic<std::int64_t> last_send_ns_{0};
    std::unique_ptr<ReceiveThread> receive_thread_;
    std::optional<PollWindow> poll_;                // ReceiveMode::Caller, from Open to Close
    std::chrono::milliseconds receive_timeout_{0};  // SO_RCVTIMEO; 0: none set
};

}  // namespace korvane
