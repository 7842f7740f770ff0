#include "support/scripted_device.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

#include "link/protocol.hpp"

namespace korvane::testing {

ScriptedDevice::ScriptedDevice(const std::string& address, std::vector<Reply> script)
    : socket_(address, DEVICE_PORT), script_(std::move(script)) {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
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
        std::array<pollfd, 2> fds{{{socket_.Fd(), POLLIN, 0}, {wake_read_.Get(), POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0 || (fds[1].revents & POLLIN) != 0) {
            return;
        }
        const auto datagram = socket_.Receive(std::chrono::milliseconds(0));
        if (!datagram) {
            continue;
        }
        {
            const std::lock_guard lock(mutex_);
            received_.push_back(datagram->bytes);
        }
        if (next >= script_.size()) {
            continue;
        }
        const Reply& reply = script_[next++];
        pollfd wake{wake_read_.Get(), POLLIN, 0};
        if (reply.delay.count() > 0 &&
            ::poll(&wake, 1, static_cast<int>(reply.delay.count())) > 0) {
            return;
        }
        if (reply.bytes) {
            (void)socket_.SendTo(datagram->from, *reply.bytes);
        }
    }
}

}  // namespace korvane::testing
