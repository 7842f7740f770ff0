#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <system_error>

#include "base/inet.hpp"
#include "link/link_route.hpp"

namespace korvane {

// One UDP socket of the platform (a descriptor on POSIX, a Winsock SOCKET on
// Windows), owned from Open to Close or destruction. The only place that
// knows the socket calls: UdpEndpoint and ReceiveThread are one code for
// every platform. Send and Receive may run on two threads at once; Open and
// Close belong to the owner's thread, never while another thread uses it.
class UdpSocket {
public:
    // True where the system stamps each datagram as it arrives (Linux,
    // SO_TIMESTAMPNS). Where it does not (Windows), Receive stamps it when it
    // is read, and the endpoint drops what is waiting right before each send.
    static const bool KERNEL_STAMPS;

    // One datagram taken: its real size (larger than the buffer when it did
    // not fit) and its arrival stamp in NowNs()'s clock (0: none).
    struct Arrival {
        std::size_t size = 0;
        std::int64_t arrived_ns = 0;
    };

    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // A socket that allows broadcast, bound as `route` asks (source address,
    // interface), with arrival stamps where the system has them.
    [[nodiscard]] std::error_code Open(const LinkRoute& route);
    [[nodiscard]] bool Valid() const noexcept;
    void Close() noexcept;

    // `head` followed by `tail` as one datagram, without copying them together.
    [[nodiscard]] std::error_code SendTo(in_addr to, std::uint16_t port,
                                         std::span<const std::uint8_t> head,
                                         std::span<const std::uint8_t> tail);

    // Takes one datagram into `buffer`: without waiting (`wait` false), or
    // waiting as long as SetReceiveBound allows. Nothing when none came or on
    // an error.
    [[nodiscard]] std::optional<Arrival> Receive(std::span<std::uint8_t> buffer, bool wait);
    // How long a waiting Receive waits; false when it cannot be set.
    [[nodiscard]] bool SetReceiveBound(std::chrono::milliseconds bound);
    // Waits at most `limit` for a datagram to be readable; true when one is.
    [[nodiscard]] bool WaitReadable(std::chrono::milliseconds limit);

    // The local port the first send bound the socket to (0 before it).
    [[nodiscard]] std::uint16_t LocalPort() const;

    // Now, in the clock of the arrival stamps, in ns (the realtime clock of
    // the kernel's stamps on POSIX, the steady clock on Windows).
    [[nodiscard]] static std::int64_t NowNs() noexcept;

private:
#ifdef _WIN32
    using Native = std::uintptr_t;              // SOCKET
    static constexpr Native NONE = ~Native{0};  // INVALID_SOCKET
    // The socket is non-blocking; a waiting Receive waits this long for it.
    std::chrono::milliseconds receive_bound_{0};
#else
    using Native = int;
    static constexpr Native NONE = -1;
#endif
    Native socket_ = NONE;
};

}  // namespace korvane
