#include "support/scripted_device.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "link/protocol.hpp"

namespace korvane::testing {

ScriptedDevice::ScriptedDevice(const std::string& address, std::vector<Reply> script)
    : script_(std::move(script)) {
    socket_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int reuse = 1;
    (void)::setsockopt(socket_.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(DEVICE_PORT);
    if (::inet_aton(address.c_str(), &local.sin_addr) == 0 ||
        ::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throw std::runtime_error("ScriptedDevice cannot bind " + address);
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    wake_read_.Reset(fds[0]);
    wake_write_.Reset(fds[1]);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedDevice::~ScriptedDevice() {
    const char stop = 1;
    (void)::write(wake_write_.Get(), &stop, 1);
    thread_.join();
}

std::vector<std::vector<std::uint8_t>> ScriptedDevice::Received() const {
    const std::lock_guard lock(mutex_);
    return received_;
}

void ScriptedDevice::Serve() {
    std::size_t next = 0;
    for (;;) {
        pollfd fds[2] = {{socket_.Get(), POLLIN, 0}, {wake_read_.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) {
            return;
        }
        std::vector<std::uint8_t> buffer(65536);
        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        const ssize_t n = ::recvfrom(socket_.Get(), buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &from_size);
        if (n < 0) {
            continue;
        }
        buffer.resize(static_cast<std::size_t>(n));
        {
            const std::lock_guard lock(mutex_);
            received_.push_back(buffer);
        }
        if (next >= script_.size()) {
            continue;
        }
        const Reply& reply = script_[next++];
        if (reply.delay.count() > 0) {
            pollfd wake{wake_read_.Get(), POLLIN, 0};
            if (::poll(&wake, 1, static_cast<int>(reply.delay.count())) > 0) {
                return;
            }
        }
        if (reply.bytes) {
            (void)::sendto(socket_.Get(), reply.bytes->data(), reply.bytes->size(), 0,
                           reinterpret_cast<const sockaddr*>(&from), from_size);
        }
    }
}

}  // namespace korvane::testing
