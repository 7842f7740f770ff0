#include "download/download_inputs.hpp"

#include <filesystem>
#include <system_error>

#include "base/messages.hpp"
#include "base/utf8_path.hpp"
#include "link/device_address.hpp"

namespace korvane {
namespace {

// True when anything (file, folder, device) is at `path`, following links.
bool SomethingAt(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        return false;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(Utf8Path(path), error);
    return !error && std::filesystem::exists(status);
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
