#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "devsim/device_simulator.hpp"

namespace korvane::testing {

// A device simulator on `address`, started; a start that fails fails the
// test. Only for tests that link the simulator library.
[[nodiscard]] inline std::unique_ptr<devsim::DeviceSimulator> StartDevice(
    const std::string& address, devsim::FaultPlan faults = {}) {
    auto device = std::make_unique<devsim::DeviceSimulator>(
        devsim::SimulatorOptions{.bind_address = address, .faults = faults});
    EXPECT_EQ(device->Start(), std::nullopt);
    return device;
}

}  // namespace korvane::testing
