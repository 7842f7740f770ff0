#include "link/machine_code_text.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// The reply's bytes in wire order (each value least significant byte first),
// then the fixed suffix, upper-case.
TEST(MachineCodeText, ShowsTheReplyBytesInWireOrderThenTheFixedSuffix) {
    EXPECT_EQ(FormatMachineCode(0x44332211, 0x88776655), "11223344-5566-7788-6272-61636B6C6531");
    EXPECT_EQ(FormatMachineCode(0xFFFFFFFF, 0x0000BBAA), "FFFFFFFF-AABB-0000-6272-61636B6C6531");
}

}  // namespace
}  // namespace korvane
