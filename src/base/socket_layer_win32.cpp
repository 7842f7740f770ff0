#include <winsock2.h>

#include <algorithm>
#include <array>
#include <string>

#include "base/socket_layer.hpp"

namespace korvane {
namespace {

// The Winsock errors a UDP socket meets that have a POSIX counterpart, with
// its words as the C library on Linux has them: the operator reads the same
// reason on both platforms, and the code compares equal to std::errc.
struct Known {
    int code;
    std::errc condition;
    const char* text;
};
constexpr std::array<Known, 23> KNOWN{{
    {WSAEBADF, std::errc::bad_file_descriptor, "Bad file descriptor"},
    {WSAEACCES, std::errc::permission_denied, "Permission denied"},
    {WSAEFAULT, std::errc::bad_address, "Bad address"},
    {WSAEINVAL, std::errc::invalid_argument, "Invalid argument"},
    {WSAEMFILE, std::errc::too_many_files_open, "Too many open files"},
    {WSAEWOULDBLOCK, std::errc::operation_would_block, "Resource temporarily unavailable"},
    {WSAENOTSOCK, std::errc::not_a_socket, "Socket operation on non-socket"},
    {WSAEDESTADDRREQ, std::errc::destination_address_required, "Destination address required"},
    {WSAEMSGSIZE, std::errc::message_size, "Message too long"},
    {WSAENOPROTOOPT, std::errc::no_protocol_option, "Protocol not available"},
    {WSAEPROTONOSUPPORT, std::errc::protocol_not_supported, "Protocol not supported"},
    {WSAEOPNOTSUPP, std::errc::operation_not_supported, "Operation not supported"},
    {WSAEAFNOSUPPORT, std::errc::address_family_not_supported,
     "Address family not supported by protocol"},
    {WSAEADDRINUSE, std::errc::address_in_use, "Address already in use"},
    {WSAEADDRNOTAVAIL, std::errc::address_not_available, "Cannot assign requested address"},
    {WSAENETDOWN, std::errc::network_down, "Network is down"},
    {WSAENETUNREACH, std::errc::network_unreachable, "Network is unreachable"},
    {WSAECONNRESET, std::errc::connection_reset, "Connection reset by peer"},
    {WSAENOBUFS, std::errc::no_buffer_space, "No buffer space available"},
    {WSAEISCONN, std::errc::already_connected, "Transport endpoint is already connected"},
    {WSAENOTCONN, std::errc::not_connected, "Transport endpoint is not connected"},
    {WSAECONNREFUSED, std::errc::connection_refused, "Connection refused"},
    {WSAEHOSTUNREACH, std::errc::host_unreachable, "No route to host"},
}};

const Known* Find(int code) noexcept {
    const auto* found = std::ranges::find(KNOWN, code, &Known::code);
    return found == KNOWN.end() ? nullptr : found;
}

// The C++ library of mingw-w64 knows no Winsock code ("Unknown error code")
// and compares none with std::errc; this category does both.
class WinsockCategory final : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "winsock"; }
    [[nodiscard]] std::string message(int code) const override {
        const Known* known = Find(code);
        return known != nullptr ? known->text : "Winsock error " + std::to_string(code);
    }
    [[nodiscard]] std::error_condition default_error_condition(int code) const noexcept override {
        const Known* known = Find(code);
        return known != nullptr ? std::make_error_condition(known->condition)
                                : std::error_condition(code, *this);
    }
};

}  // namespace

bool SocketsReady() noexcept {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::error_code SocketError(int code) noexcept {
    static const WinsockCategory category;
    return {code, category};
}

std::error_code LastSocketError() noexcept {
    return SocketError(::WSAGetLastError());
}

}  // namespace korvane
