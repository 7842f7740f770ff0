#pragma once

#include <string_view>

// Every text the operator sees from the core, exactly as shown (UTF-8). The
// front ends show them; the core only returns them.
namespace korvane::messages {

// Download validation.
inline constexpr std::string_view SELECT_FIRMWARE = "Please select firmware!";
inline constexpr std::string_view FIRMWARE_NOT_EXIST =
    "Firmware is not exist, please select firmare again.";
inline constexpr std::string_view IP_EMPTY = "IP is empty";
inline constexpr std::string_view IP_INVALID = "IP is invalid";
inline constexpr std::string_view FIRMWARE_UNREADABLE = "Failed to read firmware!";
inline constexpr std::string_view FIRMWARE_TOO_LARGE = "Firmware is too large!";

// The endpoint could not be opened.
inline constexpr std::string_view UDP_INIT_FAILED = "初始化UDP失败";

// Progress captions.
inline constexpr std::string_view DOWNLOADING = "Downloading";
inline constexpr std::string_view DOWNLOAD_SUCCEEDED = "Succeed to download";
inline constexpr std::string_view DOWNLOAD_FAILED = "Failed to download";

// Maintenance commands.
inline constexpr std::string_view RESTORE_IP_SUCCEEDED = "还原IP地址成功";
inline constexpr std::string_view RESTORE_IP_FAILED = "还原IP地址失败";
inline constexpr std::string_view MACHINE_CODE_NO_REPLY = "无响应，读取机器码失败，请检查网线！";

}  // namespace korvane::messages
