// The floor under any stop-and-wait transfer on this machine: two processes
// that do nothing but pass an 8005-byte datagram and a 4-byte reply back and
// forth, with no timeouts, checks or files. What fast_vs_tftp.sh compares
// both transfers against. The server acknowledges everything the way a device
// does, so korvane-cli can be timed against it too.
//   udp_floor serve [--poll] ADDRESS PORT        answers every datagram, until killed
//   udp_floor send [--poll] ADDRESS PORT COUNT   COUNT round trips; prints the time
// --poll looks for each datagram in a PollWindow before sleeping, as fast
// mode and the simulator do: the floor of a transfer that does so.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/poll_window.hpp"
#include "base/unique_fd.hpp"
#include "link/protocol.hpp"

namespace {

using korvane::PollWindow;

// One datagram into `buffer`, first looked for in `look` when there is one.
ssize_t Receive(int socket, std::span<std::uint8_t> buffer, sockaddr_in* from, PollWindow* look) {
    socklen_t size = sizeof *from;
    const auto take = [&](int flags) {
        return ::recvfrom(socket, buffer.data(), buffer.size(), flags,
                          reinterpret_cast<sockaddr*>(from), from != nullptr ? &size : nullptr);
    };
    ssize_t got = -1;
    if (look != nullptr && look->Poll([&] { return (got = take(MSG_DONTWAIT)) >= 0; })) {
        return got;
    }
    return take(0);
}

int Serve(const sockaddr_in& address, PollWindow* look) {
    const korvane::UniqueFd socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("udp_floor: bind");
        return 1;
    }
    std::array<std::uint8_t, 9000> buffer{};
    for (;;) {
        sockaddr_in from{};
        if (Receive(socket.Get(), buffer, &from, look) < 0) {
            return 1;
        }
        buffer[3] = korvane::REPLY_ACK;  // "code seq-hi seq-lo 06": korvane-cli takes it too
        (void)::sendto(socket.Get(), buffer.data(), 4, 0, reinterpret_cast<sockaddr*>(&from),
                       sizeof from);
    }
}

int Send(const sockaddr_in& address, long count, PollWindow* look) {
    const korvane::UniqueFd socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("udp_floor: connect");
        return 1;
    }
    std::array<std::uint8_t, 9000> buffer{};
    const std::size_t datagram = korvane::DATA_PREFIX_SIZE + korvane::MAX_DATA_PAYLOAD;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        if (::send(socket.Get(), buffer.data(), datagram, 0) < 0 ||
            Receive(socket.Get(), buffer, nullptr, look) < 0) {
            std::perror("udp_floor: round trip");
            return 1;
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.6f\n", took.count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool poll = args.size() > 1 && args[1] == "--poll";
    if (poll) {
        args.erase(args.begin() + 1);
    }
    const std::string mode = args.empty() ? "" : args[0];
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (args.size() < 3 || (mode != "serve" && mode != "send") ||
        ::inet_pton(AF_INET, args[1].c_str(), &address.sin_addr) != 1 ||
        (mode == "send" && args.size() < 4)) {
        std::fprintf(stderr,
                     "usage: udp_floor serve [--poll] ADDRESS PORT"
                     " | send [--poll] ADDRESS PORT COUNT\n");
        return 2;
    }
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(args[2])));
    std::optional<korvane::PollWindow> look;
    if (poll) {
        look.emplace(std::chrono::microseconds(50));
    }
    korvane::PollWindow* const window = look ? &*look : nullptr;
    return mode == "serve" ? Serve(address, window) : Send(address, std::stol(args[3]), window);
}
