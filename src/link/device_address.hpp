#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/inet.hpp"

namespace korvane {

// Parses the device address as typed. Only the plain dotted quad is an
// address: exactly four decimal numbers 0-255 separated by dots, without
// leading zeros, signs or white space, and nothing before or after. The
// looser forms the C library accepts ("192.168.1" for 192.168.0.1, "010" in
// octal, "0x7f.1", a second word after a space) would reach a device the
// operator did not mean, so they give nothing, as does "0.0.0.0" (this host).
// An explicit "255.255.255.255" is an address: the operator asked to broadcast.
[[nodiscard]] std::optional<in_addr> ParseDeviceAddress(std::string_view text);

// The dotted quad of `address`, as ParseDeviceAddress reads it back.
[[nodiscard]] std::string DeviceAddressText(in_addr address);

}  // namespace korvane
