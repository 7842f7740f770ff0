#include "frontend/trace_text.hpp"

#include <algorithm>
#include <cstdio>

#include "base/hex.hpp"
#include "link/byte_order.hpp"
#include "link/protocol.hpp"

namespace korvane {
namespace {

constexpr std::size_t SHOWN_BYTES = 16;

std::string Stamp(double seconds, std::string_view device, char direction) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%11.6f ", seconds);
    return std::string(stamp) + std::string(device) + ' ' + direction + ' ';
}

std::string_view Name(std::uint8_t code) {
    switch (code) {
        case PKT_HEADER:
            return "header";
        case PKT_DATA:
            return "data";
        case PKT_END:
            return "end";
        case PKT_RESTORE_IP:
            return "restore-ip";
        case PKT_GET_MACHINE_CODE:
            return "machine-code";
        default:
            return "code";
    }
}

}  // namespace

std::string TraceSentLine(double seconds, std::string_view device,
                          std::span<const std::uint8_t> head, std::size_t size) {
    std::string line = Stamp(seconds, device, '>');
    if (head.size() >= 3) {
        line += std::string(Name(head[0])) + " seq " +
                std::to_string(bytes::GetU16BE(head.subspan<1, 2>())) + ", ";
    }
    return line + std::to_string(size) + " bytes";
}

std::string TraceReceivedLine(double seconds, std::string_view device,
                              std::span<const std::uint8_t> datagram, bool dropped) {
    std::string line = Stamp(seconds, device, '<');
    const auto shown = datagram.first(std::min(datagram.size(), SHOWN_BYTES));
    for (std::size_t i = 0; i < shown.size(); ++i) {
        line += (i == 0 ? "" : " ") + ToHex(shown.subspan(i, 1));
    }
    if (datagram.size() > SHOWN_BYTES) {
        line += " ... (" + std::to_string(datagram.size()) + " bytes)";
    }
    if (datagram.empty()) {
        line += "(empty)";
    }
    return dropped ? line + " (waited before the send: ignored)" : line;
}

}  // namespace korvane
