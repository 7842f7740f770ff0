#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The device's UDP protocol: one request per datagram to DEVICE_PORT, one short
// reply per request. Every multi-byte field is big-endian.
namespace korvane {

inline constexpr std::uint16_t DEVICE_PORT = 21818;
inline constexpr std::size_t MAX_DATA_PAYLOAD = 8000;
inline constexpr std::uint8_t REPLY_ACK = 6;

// Byte 0 of every request; a reply repeats the code it answers.
inline constexpr std::uint8_t PKT_HEADER = 0x11;
inline constexpr std::uint8_t PKT_DATA = 0x12;
inline constexpr std::uint8_t PKT_END = 0x13;
inline constexpr std::uint8_t PKT_RESTORE_IP = 0x43;
inline constexpr std::uint8_t PKT_GET_MACHINE_CODE = 0x81;

// Notification codes, kept at their window-message values (WM_USER + n).
inline constexpr unsigned UM_MACHINE_CODE = 1124;
inline constexpr unsigned UM_PACKET_ACKED = 1132;
inline constexpr unsigned UM_DOWNLOAD_DONE = 1133;
// Posted instead of UM_DOWNLOAD_DONE when a download's UDP endpoint cannot be
// opened (both values 0): the front end shows "初始化UDP失败" on its own thread.
inline constexpr unsigned UM_UDP_INIT_FAILED = 1134;

// How long a sender waits for the device's reply to one request.
inline constexpr int ACK_WAIT_MS = 5000;

// Header layout: code, sequence, file length, digest, module name.
inline constexpr std::size_t DIGEST_SIZE = 16;
inline constexpr std::string_view MODULE_NAME = "DriverManager";
inline constexpr std::size_t HEADER_DIGEST_OFFSET = 7;
inline constexpr std::size_t HEADER_MODULE_OFFSET = HEADER_DIGEST_OFFSET + DIGEST_SIZE;
inline constexpr std::size_t HEADER_PACKET_SIZE = HEADER_MODULE_OFFSET + MODULE_NAME.size();
inline constexpr std::size_t DATA_PREFIX_SIZE = 5;  // code, sequence, payload length
inline constexpr std::size_t END_PACKET_SIZE = 5;
inline constexpr std::size_t MAX_DATA_PACKET_SIZE = DATA_PREFIX_SIZE + MAX_DATA_PAYLOAD;

// The smallest reply that is looked at, and the machine-code reply's layout.
inline constexpr std::size_t MIN_REPLY_SIZE = 4;
inline constexpr std::size_t REPLY_STATUS_OFFSET = 3;
inline constexpr std::size_t MACHINE_CODE_LENGTH_OFFSET = 4;
inline constexpr std::size_t MACHINE_CODE_OFFSET = 6;
inline constexpr std::size_t MACHINE_CODE_SIZE = 8;

// The two maintenance requests: the shape of an end datagram with sequence 0.
inline constexpr std::array<std::uint8_t, 5> RESTORE_IP_REQUEST{PKT_RESTORE_IP, 0, 0, 0, 0};
inline constexpr std::array<std::uint8_t, 5> GET_MACHINE_CODE_REQUEST{PKT_GET_MACHINE_CODE, 0, 0, 0,
                                                                      0};

using Digest = std::array<std::uint8_t, DIGEST_SIZE>;

}  // namespace korvane
