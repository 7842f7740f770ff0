#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "frontend/gui_handoff.hpp"
#include "link/maintenance_commands.hpp"

namespace korvane {

// One of the maintenance exchanges (RestoreIp, GetMachineCode).
using DeviceCommand = CommandOutcome (*)(DeviceLink&, std::string_view, const ShowOutcome&,
                                         const LinkRoute&);

// A window's device command on the typed address (UTF-8): refused with `tell`
// before anything is sent when the text is no address; else run by `wait`
// (the window's RunWhileWindowWaits), its message told on the UI thread while
// its endpoint is still open. UI thread.
void RunDeviceCommand(DeviceLink& link, const std::string& address_text, DeviceCommand command,
                      const std::function<void(std::string_view)>& tell,
                      const std::function<void(const WaitingWork&)>& wait);

}  // namespace korvane
