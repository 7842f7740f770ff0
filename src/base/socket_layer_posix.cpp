#include <cerrno>

#include "base/socket_layer.hpp"

namespace korvane {

bool SocketsReady() noexcept {
    return true;
}

std::error_code SocketError(int code) noexcept {
    return {code, std::system_category()};
}

std::error_code LastSocketError() noexcept {
    return SocketError(errno);
}

}  // namespace korvane
