#include "link/receive_thread.hpp"

#include <array>
#include <span>
#include <system_error>

#include "link/udp_endpoint.hpp"
#include "link/udp_socket.hpp"

namespace korvane {

bool ReceiveOne(UdpSocket& socket, UdpEndpoint& endpoint, bool wait) {
    // On the stack and left uninitialised: only the bytes this datagram wrote
    // are handed over, so nothing of an earlier one is seen, and the fast
    // sender pays no allocation or clearing per datagram.
    std::array<std::uint8_t, ReceiveThread::RECV_BUFFER_SIZE> buffer;
    const auto arrival = socket.Receive(buffer, wait);
    if (!arrival || arrival->size == 0 || arrival->size > buffer.size()) {
        return false;  // nothing pending, an empty or oversized datagram, or an error
    }
    endpoint.OnArrival(std::span(buffer).first(arrival->size), arrival->arrived_ns);
    return true;
}

namespace {

// Drains `socket` without waiting, in order of arrival, until nothing is
// pending or `stop` is set.
void DrainSocket(UdpSocket& socket, UdpEndpoint& endpoint, const std::atomic<bool>& stop) {
    while (!stop.load() && ReceiveOne(socket, endpoint, false)) {
    }
}

}  // namespace

ReceiveThread::ReceiveThread(UdpEndpoint& endpoint, UdpSocket& socket)
    : endpoint_(endpoint), socket_(socket) {}

ReceiveThread::~ReceiveThread() {
    Stop();
}

bool ReceiveThread::Start() {
    if (thread_.joinable()) {
        return false;
    }
    stop_flag_.store(false);
    running_.store(true);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        running_.store(false);
        return false;
    }
    return true;
}

void ReceiveThread::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    // Raising the thread's priority has no unprivileged counterpart on Linux.
    for (int pauses = 0; running_.load() && pauses < STOP_PAUSES; ++pauses) {
        stop_flag_.store(true);
        std::this_thread::sleep_for(STOP_PAUSE);
    }
    stop_flag_.store(true);
    thread_.join();
}

void ReceiveThread::Run() noexcept {
    while (!stop_flag_.load()) {
        if (socket_.WaitReadable(READY_WAIT)) {
            DrainSocket(socket_, endpoint_, stop_flag_);
        }
        std::this_thread::sleep_for(CYCLE_PAUSE);
    }
    running_.store(false);
}

}  // namespace korvane
