#pragma once

#include <optional>
#include <string_view>

#include "base/inet.hpp"

namespace korvane {

// Why a download does not start, in the words the operator is shown
// (messages.hpp). After "Please select firmware!" the front end also beeps.
struct DownloadRefusal {
    std::string_view message;
    bool beep = false;

    friend bool operator==(const DownloadRefusal&, const DownloadRefusal&) = default;
};

// Checks the firmware path as typed: empty ("Please select firmware!", with
// a beep), then nothing at the path ("Firmware is not exist, please select
// firmare again."). A folder passes here; loading refuses it later.
[[nodiscard]] std::optional<DownloadRefusal> CheckFirmwarePath(std::string_view path);

// The device address as typed: empty ("IP is empty"), or text that is not an
// IPv4 address ("IP is invalid"): such text is refused rather than broadcast
// to. An explicit "255.255.255.255" is an address.
struct AddressCheck {
    std::optional<DownloadRefusal> refusal;
    in_addr address{};
};
[[nodiscard]] AddressCheck CheckDeviceAddress(std::string_view text);

}  // namespace korvane
