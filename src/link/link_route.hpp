#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/inet.hpp"
#include "link/protocol.hpp"

namespace korvane {

// Told of every datagram an endpoint sends and receives, for a trace of the
// exchange. Called on the sending thread and on the receive thread, at once
// for different endpoints: an implementation must be thread-safe and quick.
class LinkTrace {
public:
    virtual void Sent(in_addr to, std::span<const std::uint8_t> head,
                      std::span<const std::uint8_t> tail) noexcept = 0;
    // `dropped`: it was waiting in the socket before the latest send, so it
    // answers nothing.
    virtual void Received(in_addr device, std::span<const std::uint8_t> datagram,
                          bool dropped) noexcept = 0;

protected:
    ~LinkTrace() = default;
};

// How an exchange reaches its device besides the address: the device's port,
// and the local address or interface to send from. Without either of those
// the socket is not bound and the system picks the way.
struct LinkRoute {
    std::uint16_t port = DEVICE_PORT;
    std::optional<in_addr> source;  // bind to this local address (any port)
    std::string interface;          // bind to this network interface; empty: none
    LinkTrace* trace = nullptr;     // not owned; outlives every endpoint that uses it
};

}  // namespace korvane
