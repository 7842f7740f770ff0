#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <system_error>

#include "base/inet.hpp"
#include "base/wake_event.hpp"

namespace korvane::devsim {

// The UDP socket a simulated device answers on (a descriptor on POSIX; a
// Winsock SOCKET and its readiness event on Windows), owned from Open to
// destruction. The only place of the simulator that knows the socket calls,
// one receive and one reply call per datagram. Receive and Send run on one
// thread at a time (the service thread); Open, Bind and LocalAddress come
// before it starts.
class DeviceSocket {
public:
    DeviceSocket() = default;
    ~DeviceSocket();
    DeviceSocket(const DeviceSocket&) = delete;
    DeviceSocket& operator=(const DeviceSocket&) = delete;

    // A UDP socket with room for `receive_room` bytes of datagrams waiting to
    // be read (as much as the system grants; 0: the system's default).
    [[nodiscard]] std::error_code Open(int receive_room = 0);
    // Binds to address:port (port 0: an ephemeral one), never together with
    // another socket: a second device on the same address fails here.
    [[nodiscard]] std::error_code Bind(in_addr address, std::uint16_t port);
    [[nodiscard]] std::error_code LocalAddress(sockaddr_in& local) const;

    // What WaitForEither watches: ready while a datagram may be waiting.
    [[nodiscard]] WakeEvent::NativeHandle ReadyHandle() const noexcept;

    // Takes one waiting datagram into `buffer` without waiting, and its
    // sender; nothing when none waits or on an error.
    [[nodiscard]] std::optional<std::size_t> Receive(std::span<std::uint8_t> buffer,
                                                     sockaddr_in& from);
    // Sends `datagrams` to `to` in order, as close together as the system
    // allows (one call on Linux for up to MAX_BURST); true when every one went out.
    [[nodiscard]] bool Send(std::span<const std::span<const std::uint8_t>> datagrams,
                            const sockaddr_in& to);

    static constexpr std::size_t MAX_BURST = 8;

private:
#ifdef _WIN32
    using Native = std::uintptr_t;              // SOCKET
    static constexpr Native NONE = ~Native{0};  // INVALID_SOCKET
    void* ready_ = nullptr;                     // WSAEVENT, set on FD_READ
#else
    using Native = int;
    static constexpr Native NONE = -1;
#endif
    Native socket_ = NONE;
};

}  // namespace korvane::devsim
