#include "download/download_inputs.hpp"

#include <sys/stat.h>

#include <string>

#include "base/messages.hpp"
#include "link/device_address.hpp"

namespace korvane {
namespace {

// True when anything (file, folder, device) is at `path`, following links.
bool SomethingAt(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        return false;
    }
    const std::string terminated(path);
    struct stat info {};
    return ::stat(terminated.c_str(), &info) == 0;
}

}  // namespace

std::optional<DownloadRefusal> CheckFirmwarePath(std::string_view path) {
    if (path.empty()) {
        return DownloadRefusal{.message = messages::SELECT_FIRMWARE, .beep = true};
    }
    if (!SomethingAt(path)) {
        return DownloadRefusal{.message = messages::FIRMWARE_NOT_EXIST};
    }
    return std::nullopt;
}

AddressCheck CheckDeviceAddress(std::string_view text) {
    if (text.empty()) {
        return {.refusal = DownloadRefusal{.message = messages::IP_EMPTY}};
    }
    const std::optional<in_addr> address = ParseDeviceAddress(text);
    if (!address) {
        return {.refusal = DownloadRefusal{.message = messages::IP_INVALID}};
    }
    return {.address = *address};
}

}  // namespace korvane
