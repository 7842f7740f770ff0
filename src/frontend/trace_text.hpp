#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

// One line of an exchange's trace, without line ending: the time since the
// start, the device, the direction, and what went or came:
//   "   0.004213 127.0.0.2 > data seq 1, 8005 bytes"
//   "   0.004391 127.0.0.2 < 12 00 01 06"
//   "   0.014020 127.0.0.2 < 11 00 00 06 (waited before the send: ignored)"
// A sent datagram of `size` bytes is named by the code and sequence at the
// start of `head`; a received one shows its first 16 bytes in hex ("..."
// after them when there are more).
[[nodiscard]] std::string TraceSentLine(double seconds, std::string_view device,
                                        std::span<const std::uint8_t> head, std::size_t size);
[[nodiscard]] std::string TraceReceivedLine(double seconds, std::string_view device,
                                            std::span<const std::uint8_t> datagram, bool dropped);

}  // namespace korvane
