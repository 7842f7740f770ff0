#include "link/machine_code_text.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(MachineCodeText, ShowsTheReplyBytesInWireOrderThenTheFixedSuffix) {
    struct Case {
        std::uint32_t first, second;
        const char* text;
    };
    const Case cases[] = {
        {0x44332211, 0x88776655, "11223344-5566-7788-6272-61636B6C6531"},
        {0, 0, "00000000-0000-0000-6272-61636B6C6531"},
        {0xFFFFFFFF, 0xFFFFFFFF, "FFFFFFFF-FFFF-FFFF-6272-61636B6C6531"},
        {0x04030201, 0x08070605, "01020304-0506-0708-6272-61636B6C6531"},
        {0x0000BBAA, 0, "AABB0000-0000-0000-6272-61636B6C6531"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatMachineCode(c.first, c.second), c.text);
    }
}

}  // namespace
}  // namespace korvane
