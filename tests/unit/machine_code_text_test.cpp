#include "link/machine_code_text.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// The reply's bytes in wire order (each value least significant byte first),
// then the fixed suffix, upper-case.
TEST(MachineCodeText, ShowsTheReplyBytesInWireOrderThenTheFixedSuffix) {
    const std::tuple<std::uint32_t, std::uint32_t, const char*> rows[] = {
        {0x44332211, 0x88776655, "11223344-5566-7788-6272-61636B6C6531"},
        {0, 0, "00000000-0000-0000-6272-61636B6C6531"},
        {0xFFFFFFFF, 0x0000BBAA, "FFFFFFFF-AABB-0000-6272-61636B6C6531"},
    };
    for (const auto& [first, second, text] : rows) {
        EXPECT_EQ(FormatMachineCode(first, second), text);
    }
}

}  // namespace
}  // namespace korvane
