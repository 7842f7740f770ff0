#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>

namespace korvane {

class UdpEndpoint;
class UdpSocket;

// Takes one datagram from `socket` (waiting as its receive bound allows, or
// not at all) and hands it to `endpoint` (OnArrival, with its arrival stamp).
// False when nothing was handed over: nothing pending or the wait ran out, an
// empty or oversized datagram (dropped), an error.
bool ReceiveOne(UdpSocket& socket, UdpEndpoint& endpoint, bool wait);

// The receive loop of one UdpEndpoint, on a thread of its own: waits at most
// 100 ms for the socket to become readable, drains it (each datagram handed to
// the endpoint with its kernel arrival stamp, in order of arrival), pauses 10 ms, and again until
// stopped. Made and started by UdpEndpoint::Open, stopped and destroyed by the
// endpoint before it closes its socket. The destructor always joins.
class ReceiveThread {
public:
    static constexpr std::size_t RECV_BUFFER_SIZE = 5200;
    static constexpr std::chrono::milliseconds READY_WAIT{100};
    static constexpr std::chrono::milliseconds CYCLE_PAUSE{10};
    static constexpr std::chrono::milliseconds STOP_PAUSE{20};
    static constexpr int STOP_PAUSES = 101;

    ReceiveThread(UdpEndpoint& endpoint, UdpSocket& socket);
    ~ReceiveThread();
    ReceiveThread(const ReceiveThread&) = delete;
    ReceiveThread& operator=(const ReceiveThread&) = delete;

    // Starts the loop; false when the thread cannot be made.
    [[nodiscard]] bool Start();

    // Asks the loop to end and waits for it: up to 101 pauses of 20 ms while it
    // still runs, then (a hand-over that takes longer) until it has ended, so
    // neither the endpoint nor its socket ever goes away under a running loop.
    void Stop();

private:
    void Run() noexcept;

    UdpEndpoint& endpoint_;
    UdpSocket& socket_;  // owned by the endpoint
    std::atomic<bool> stop_flag_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace korvane
