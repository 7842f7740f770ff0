#include "link/receive_thread.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>
#include <vector>

#include "link/udp_endpoint.hpp"

namespace korvane {
namespace {

// The kernel's arrival stamp (SO_TIMESTAMPNS) in nanoseconds; 0 without one.
std::int64_t ArrivalStamp(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            return std::int64_t{stamp.tv_sec} * 1'000'000'000 + stamp.tv_nsec;
        }
    }
    return 0;
}

}  // namespace

bool ReceiveOne(int socket_fd, UdpEndpoint& endpoint, int flags) {
    // A fresh buffer per datagram; nothing survives from one to the next.
    std::vector<std::uint8_t> buffer(ReceiveThread::RECV_BUFFER_SIZE);
    sockaddr_storage sender{};
    iovec into{.iov_base = buffer.data(), .iov_len = buffer.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec))> control{};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &into;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    // MSG_TRUNC reports a datagram's real size, so one that does not fit the
    // buffer is recognised and dropped instead of handed over cut short.
    const ssize_t n = ::recvmsg(socket_fd, &message, flags | MSG_TRUNC);
    if (n <= 0 || static_cast<std::size_t>(n) > ReceiveThread::RECV_BUFFER_SIZE) {
        return false;  // nothing pending, an empty or oversized datagram, or an error
    }
    buffer.resize(static_cast<std::size_t>(n));
    endpoint.OnArrival(buffer, ArrivalStamp(message));
    return true;
}

namespace {

// Drains `socket_fd` without waiting, in order of arrival, until nothing is
// pending or `stop` is set.
void DrainSocket(int socket_fd, UdpEndpoint& endpoint, const std::atomic<bool>& stop) {
    while (!stop.load() && ReceiveOne(socket_fd, endpoint, MSG_DONTWAIT)) {
    }
}

}  // namespace

ReceiveThread::ReceiveThread(UdpEndpoint& endpoint, int socket_fd)
    : endpoint_(endpoint), socket_fd_(socket_fd) {}

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
        pollfd ready{.fd = socket_fd_, .events = POLLIN, .revents = 0};
        const int count = ::poll(&ready, 1, static_cast<int>(READY_WAIT.count()));
        if (count > 0) {
            DrainSocket(socket_fd_, endpoint_, stop_flag_);
        }
        std::this_thread::sleep_for(CYCLE_PAUSE);
    }
    running_.store(false);
}

}  // namespace korvane
