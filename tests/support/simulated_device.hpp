#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "devsim/device_simulator.hpp"
#include "link/device_address.hpp"

namespace korvane::testing {

// The port of the simulated device at `address` (127.0.A.B): the device's
// own, 21818. On Windows one of the address's own (1024 + 256 A + B): wine
// binds a UDP socket to any 127.x but 127.0.0.1 as to 0.0.0.0, so that two
// devices cannot share a port there.
[[nodiscard]] inline std::uint16_t DevicePort(const std::string& address) {
#ifdef _WIN32
    const std::uint32_t host = ntohl(ParseDeviceAddress(address).value().s_addr);
    if ((host >> 16) != 0x7F00) {
        throw std::invalid_argument("a simulated device lives at 127.0.A.B, not " + address);
    }
    return static_cast<std::uint16_t>(1024 + (host & 0xFFFF));
#else
    (void)address;
    return DEVICE_PORT;
#endif
}

// A device simulator on `address` (its port DevicePort's) with `faults` (and
// the rest of `options`), started; a start that fails fails the test.
[[nodiscard]] inline std::unique_ptr<devsim::DeviceSimulator> StartDevice(
    const std::string& address, devsim::FaultPlan faults = {},
    devsim::SimulatorOptions options = {}) {
    options.bind_address = address;
    options.port = DevicePort(address);
    options.faults = faults;
    auto device = std::make_unique<devsim::DeviceSimulator>(std::move(options));
    EXPECT_EQ(device->Start(), std::nullopt);
    return device;
}

}  // namespace korvane::testing
