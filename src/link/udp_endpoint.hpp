#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <span>

#include "base/unique_fd.hpp"
#include "link/device_reply_handler.hpp"
#include "link/receive_thread.hpp"

namespace korvane {

// A UDP socket aimed at one device, with broadcast allowed, and the receive
// thread that hands every datagram arriving on it to the owner's
// HandleDeviceReply. The socket is never bound: the first send picks an
// ephemeral port, and replies come back to it. One endpoint serves one
// exchange (a download, a maintenance request) as a local object of the
// thread that uses it; destroying it stops the receive thread, then closes the
// socket. The owner must outlive the endpoint. A class that overrides
// OnReceive must Close() in its own destructor: the receive thread calls
// OnReceive until it is stopped.
class UdpEndpoint {
public:
    explicit UdpEndpoint(DeviceReplyHandler& owner);
    virtual ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    // Set before Open.
    void SetRemote(in_addr address, std::uint16_t port) noexcept {
        remote_address_ = address;
        remote_port_ = port;
    }

    // True when the socket exists, allows broadcast and the receive thread runs.
    [[nodiscard]] virtual bool Open();
    // Sends `datagram` whole as one datagram; false for an empty one or an error.
    virtual bool Send(std::span<const std::uint8_t> datagram);
    // Stops the receive thread, then closes the socket. Always true.
    virtual bool Close();
    // Hands one received datagram to the owner (receive thread). Always true.
    virtual bool OnReceive(std::span<const std::uint8_t> datagram);

    [[nodiscard]] bool IsOpen() const noexcept { return socket_.Valid(); }
    // The local port the first send bound the socket to (0 before it).
    [[nodiscard]] std::uint16_t LocalPort() const;

private:
    DeviceReplyHandler& owner_;
    in_addr remote_address_{};
    std::uint16_t remote_port_ = 0;
    UniqueFd socket_;
    std::unique_ptr<ReceiveThread> receive_thread_;
};

}  // namespace korvane
