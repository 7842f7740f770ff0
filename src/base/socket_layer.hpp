#pragma once

#include <system_error>

namespace korvane {

// The platform's sockets layer, for every file that makes sockets (the link's
// UdpSocket, the simulator's DeviceSocket).

// True once sockets can be made: nothing to do on POSIX; Winsock is started
// once per process, on the first call, and left running until the process ends.
[[nodiscard]] bool SocketsReady() noexcept;

// The error `code` of the sockets layer (an errno value on POSIX, a WSAE...
// value on Windows), comparable with std::errc and worded the same on every
// platform ("Address already in use").
[[nodiscard]] std::error_code SocketError(int code) noexcept;

// The error of the latest failed socket call on this thread (errno, WSAGetLastError).
[[nodiscard]] std::error_code LastSocketError() noexcept;

}  // namespace korvane
