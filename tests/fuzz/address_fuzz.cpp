// libFuzzer target: the device-address parser never faults, and whatever text
// it accepts is exactly an address in its canonical dotted form (what
// inet_ntop prints for it) and not 0.0.0.0. Shorthands such as "127.1",
// leading zeros, hex parts or trailing text must be refused, not read as some
// other device's address.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "link/device_address.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto address = korvane::ParseDeviceAddress(text);
    if (!address) {
        return 0;
    }
    char canonical[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &*address, canonical, sizeof canonical) == nullptr) {
        std::abort();
    }
    if (text != canonical || text == "0.0.0.0") {
        std::fprintf(stderr, "accepted \"%.*s\" as %s\n", static_cast<int>(size), text.data(),
                     canonical);
        std::abort();
    }
    return 0;
}
