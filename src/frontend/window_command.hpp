#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "frontend/gui_handoff.hpp"
#include "link/maintenance_commands.hpp"

namespace korvane {

// One of the maintenance exchanges (RestoreIp, GetMachineCode).
using DeviceCommand = CommandOutcome (*)(DeviceLink&, std::string_view, const ShowOutcome&,
                                         const LinkRoute&);

// How a window tells the operator something (its plain message box) and
// waits for work away from its UI thread (its RunWhileWindowWaits).
struct WindowCalls {
    std::function<void(std::string_view)> tell;
    std::function<void(const WaitingWork&)> wait;
};

// A window's device command on the typed address (UTF-8): refused with a
// message before anything is sent when the text is no address; else run
// while the window waits, its message told on the UI thread while its
// endpoint is still open. UI thread.
void RunDeviceCommand(DeviceLink& link, const std::string& address_text, DeviceCommand command,
                      const WindowCalls& window);

// A window's ping of the typed address (UTF-8): what ping printed, collected
// while the window waits; nothing, after the message that says so, when the
// text is empty. UI thread.
[[nodiscard]] std::optional<std::string> RunPing(const std::string& address_text,
                                                 const WindowCalls& window);

}  // namespace korvane
