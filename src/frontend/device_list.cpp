#include "frontend/device_list.hpp"

#include <cstdint>
#include <unordered_map>

#include "base/messages.hpp"
#include "base/utf8_path.hpp"
#include "download/download_inputs.hpp"
#include "frontend/target_list.hpp"

namespace korvane {

std::string DeviceListRefusal::Line(std::string_view program) const {
    if (message.empty()) {
        return std::string(program) + ": " + detail;
    }
    return detail.empty() ? std::string(message) : std::string(message) + ": " + detail;
}

DeviceList CollectDevices(std::span<const std::string> ip_options,
                          const std::string& targets_path) {
    DeviceList list;
    for (const std::string& text : ip_options) {
        list.devices.push_back({.text = text, .origin = "--ip"});
    }
    if (!targets_path.empty()) {
        const std::string name =
            targets_path == TARGETS_FROM_STDIN ? std::string(STDIN_NAME) : targets_path;
        TargetsFile file = ReadTargetsFile(Utf8Path(targets_path));
        if (file.status != TargetsFileStatus::Read) {
            list.refusal =
                DeviceListRefusal{.detail = "targets file " + name + ": " +
                                            std::string(DescribeTargetsFileStatus(file.status))};
            return list;
        }
        for (TargetLine& target : file.targets) {
            list.devices.push_back({.text = std::move(target.text),
                                    .origin = name + ":" + std::to_string(target.line)});
        }
    }
    if (list.devices.empty()) {
        list.refusal = DeviceListRefusal{.message = messages::IP_EMPTY,
                                         .detail = "give --ip ADDRESS or --targets FILE"};
        return list;
    }
    // Each address seen so far, and the entry that gave it.
    std::unordered_map<std::uint32_t, std::size_t> seen;
    for (std::size_t i = 0; i < list.devices.size(); ++i) {
        ListedDevice& device = list.devices[i];
        const AddressCheck check = CheckDeviceAddress(device.text);
        if (check.refusal) {
            // From a file, where it stands; from --ip, the text is enough.
            const bool from_file = device.origin != "--ip";
            list.refusal = DeviceListRefusal{
                .message = check.refusal->message,
                .detail = from_file ? device.origin + ": " + device.text : device.text};
            return list;
        }
        device.address = check.address;
        const auto [earlier, first] = seen.try_emplace(device.address.s_addr, i);
        if (!first) {
            list.refusal = DeviceListRefusal{.detail = device.text + " is given twice (" +
                                                       list.devices[earlier->second].origin +
                                                       " and " + device.origin + ")"};
            return list;
        }
    }
    return list;
}

}  // namespace korvane
