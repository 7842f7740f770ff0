#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/inet.hpp"

namespace korvane {

// One device a command of the command line is to reach.
struct ListedDevice {
    std::string text;  // the address as given
    in_addr address{};
    std::string origin;  // where it was given: "--ip" or "FILE:LINE" of a targets file
};

// Why a list of devices is refused. `message` is the operator's text ("IP is
// empty", "IP is invalid") or empty; `detail` says which entry or file.
struct DeviceListRefusal {
    std::string_view message;
    std::string detail;

    // The line for stderr: "IP is invalid: rack.txt:3: 10.0.0" (the message
    // first, as the window shows it), or "`program`: detail".
    [[nodiscard]] std::string Line(std::string_view program) const;
};

struct DeviceList {
    std::vector<ListedDevice> devices;  // when not refused: at least one
    std::optional<DeviceListRefusal> refusal;
};

// The devices of one command: the --ip addresses as given, then those of the
// targets file at `targets_path` (none when empty; standard input for "-"),
// in file order. Every address is checked strictly (CheckDeviceAddress), and
// an address given twice is refused, before anything is sent: no entry at all
// is "IP is empty", a bad entry "IP is invalid" with the entry (and its file
// and line); a targets file that cannot be read, or holds no address, is
// refused naming the file and why.
[[nodiscard]] DeviceList CollectDevices(std::span<const std::string> ip_options,
                                        const std::string& targets_path);

}  // namespace korvane
