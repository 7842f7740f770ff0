#pragma once

#include <netinet/in.h>

#include <optional>
#include <string_view>

namespace korvane {

// Parses the device address as typed, with inet_aton's rules (the dotted forms
// "127.1", "0x7f.0.0.1" ... included). Text that does not parse gives nothing:
// callers refuse it with "IP is invalid" rather than broadcast to it. An
// explicit "255.255.255.255" is a valid address.
[[nodiscard]] std::optional<in_addr> ParseDeviceAddress(std::string_view text);

}  // namespace korvane
