// The floor under any stop-and-wait transfer on this machine: two processes
// that do nothing but pass an 8005-byte datagram and a 4-byte reply back and
// forth, with no timeouts, checks or files. What fast_vs_tftp.sh compares
// both transfers against. The server acknowledges everything the way a device
// does, so korvane-cli can be timed against it too.
//   udp_floor serve ADDRESS PORT          answers every datagram, until killed
//   udp_floor send ADDRESS PORT COUNT     COUNT round trips; prints the time
#include <arpa/inet.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/unique_fd.hpp"
#include "link/protocol.hpp"

namespace {

int Serve(const sockaddr_in& address) {
    const korvane::UniqueFd socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("udp_floor: bind");
        return 1;
    }
    std::array<std::uint8_t, 9000> buffer{};
    for (;;) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        if (::recvfrom(socket.Get(), buffer.data(), buffer.size(), 0,
                       reinterpret_cast<sockaddr*>(&from), &size) < 0) {
            return 1;
        }
        buffer[3] = korvane::REPLY_ACK;  // "code seq-hi seq-lo 06": korvane-cli takes it too
        (void)::sendto(socket.Get(), buffer.data(), 4, 0, reinterpret_cast<sockaddr*>(&from), size);
    }
}

int Send(const sockaddr_in& address, long count) {
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
            ::recv(socket.Get(), buffer.data(), buffer.size(), 0) < 0) {
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
    const std::string mode = argc > 1 ? argv[1] : "";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (argc < 4 || (mode != "serve" && mode != "send") ||
        ::inet_pton(AF_INET, argv[2], &address.sin_addr) != 1 || (mode == "send" && argc < 5)) {
        std::fprintf(stderr, "usage: udp_floor serve ADDRESS PORT | send ADDRESS PORT COUNT\n");
        return 2;
    }
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[3])));
    return mode == "serve" ? Serve(address) : Send(address, std::atol(argv[4]));
}
