#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "devsim/device_simulator.hpp"

namespace korvane::testing {

// A device simulator on `address` with `faults` (and the rest of `options`),
// started; a start that fails fails the test.
[[nodiscard]] inline std::unique_ptr<devsim::DeviceSimulator> StartDevice(
    const std::string& address, devsim::FaultPlan faults = {},
    devsim::SimulatorOptions options = {}) {
    options.bind_address = address;
    options.faults = faults;
    auto device = std::make_unique<devsim::DeviceSimulator>(std::move(options));
    EXPECT_EQ(device->Start(), std::nullopt);
    return device;
}

}  // namespace korvane::testing
