#include "link/device_address.hpp"

#include <arpa/inet.h>

#include <string>

namespace korvane {

std::optional<in_addr> ParseDeviceAddress(std::string_view text) {
    // inet_aton reads up to the first NUL; text with one inside is not an address.
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string terminated(text);
    in_addr address{};
    if (inet_aton(terminated.c_str(), &address) == 0) {
        return std::nullopt;
    }
    return address;
}

}  // namespace korvane
