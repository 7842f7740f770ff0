#include "link/device_address.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {
namespace {

using namespace std::string_view_literals;

struct AddressCase {
    std::string_view text;
    std::optional<std::uint32_t> host_order;  // expected value, or refused
};

TEST(DeviceAddress, AcceptsTheDottedFormsWithTheirValues) {
    const std::vector<AddressCase> cases = {
        {"127.0.0.1", 0x7f000001},       {"127.1", 0x7f000001}, {"0x7f.0.0.1", 0x7f000001},
        {"255.255.255.255", 0xffffffff},  // typed on purpose: a broadcast
        {"192.168.1.88", 0xc0a80158},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        const auto parsed = ParseDeviceAddress(c.text);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(ntohl(parsed->s_addr), *c.host_order);
    }
}

TEST(DeviceAddress, DecidesEveryTextAsInetAtonDoes) {
    const std::vector<std::string_view> texts = {
        "abc",        "",         "1.2.3.4.5",  "1.2.3.256",          " 1.2.3.4",
        "1.2.3.4 ",   "1.2.3.4.", "1..2.3",     "0x100.0.0.1",        "4294967295",
        "4294967296", "-1",       "1.2.3.4\tx", "\xe4\xb8\x80.1.1.1",
    };
    for (const auto text : texts) {
        SCOPED_TRACE("[" + std::string(text) + "]");
        const std::string terminated(text);
        in_addr expected{};
        const bool accepted = inet_aton(terminated.c_str(), &expected) != 0;
        const auto parsed = ParseDeviceAddress(text);
        ASSERT_EQ(parsed.has_value(), accepted);
        if (accepted) {
            EXPECT_EQ(parsed->s_addr, expected.s_addr);
        }
    }
    // Text that does not parse never becomes the broadcast address.
    EXPECT_FALSE(ParseDeviceAddress("abc").has_value());
}

TEST(DeviceAddress, RefusesTextWithAnEmbeddedNul) {
    // inet_aton would stop at the NUL and accept "127.0.0.1".
    EXPECT_FALSE(ParseDeviceAddress("127.0.0.1\0.5"sv).has_value());
    EXPECT_FALSE(ParseDeviceAddress("\0"sv).has_value());
    EXPECT_FALSE(ParseDeviceAddress("127.0.0.1\0"sv).has_value());
}

}  // namespace
}  // namespace korvane
