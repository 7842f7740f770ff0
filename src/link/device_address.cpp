#include "link/device_address.hpp"

#include <cstdint>

namespace korvane {

std::optional<in_addr> ParseDeviceAddress(std::string_view text) {
    std::uint32_t host_order = 0;
    int parts = 0;
    std::size_t at = 0;
    while (parts < 4) {
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
        }
        const std::size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        host_order = (host_order << 8) | value;
        ++parts;
        if (parts < 4) {
            if (at >= text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
    }
    if (at != text.size() || host_order == 0) {
        return std::nullopt;
    }
    in_addr address{};
    address.s_addr = htonl(host_order);  // a macro on Windows: no designated initializer
    return address;
}

std::string DeviceAddressText(in_addr address) {
    const std::uint32_t host_order = ntohl(address.s_addr);
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string((host_order >> shift) & 0xFFu);
        if (shift > 0) {
            text += '.';
        }
    }
    return text;
}

}  // namespace korvane
