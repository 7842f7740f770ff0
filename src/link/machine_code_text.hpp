#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// The machine code as the operator sees it: the eight bytes of the device's
// reply (first value = bytes 1-4, second = bytes 5-8, each least significant
// byte first) followed by the character codes of "brackle1", sixteen bytes in
// the 8-4-4-4-12 upper-case hex layout of a GUID:
// "11223344-5566-7788-6272-61636B6C6531".
[[nodiscard]] std::string FormatMachineCode(std::uint32_t first, std::uint32_t second);

}  // namespace korvane
