#pragma once

#include <cstdint>
#include <span>

namespace korvane {

// Receives every datagram a UdpEndpoint reads, on the endpoint's receive
// thread. The bytes are valid only during the call. Must not throw: the
// receive thread has nobody to hand an exception to.
class DeviceReplyHandler {
public:
    virtual ~DeviceReplyHandler() = default;
    virtual void HandleDeviceReply(std::span<const std::uint8_t> datagram) noexcept = 0;
};

}  // namespace korvane
