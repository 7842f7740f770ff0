#include "frontend/window_command.hpp"

#include "base/messages.hpp"
#include "download/download_inputs.hpp"
#include "proc/ping_command_line.hpp"
#include "proc/run_and_collect.hpp"

namespace korvane {

void RunDeviceCommand(DeviceLink& link, const std::string& address_text, DeviceCommand command,
                      const WindowCalls& window) {
    const AddressCheck check = CheckDeviceAddress(address_text);
    if (check.refusal) {
        window.tell(check.refusal->message);
        return;
    }
    window.wait([&](const GuiCall& call_on_gui) {
        (void)command(link, address_text,
                      [&](const CommandOutcome& outcome) {
                          if (!outcome.message.empty()) {
                              call_on_gui([&] { window.tell(outcome.message); });
                          }
                      },
                      {});
    });
}

std::optional<std::string> RunPing(const std::string& address_text, const WindowCalls& window) {
    if (address_text.empty()) {
        window.tell(messages::IP_EMPTY);
        return std::nullopt;
    }
    std::string output;
    const std::string command = PingCommandLine(address_text);
    window.wait([&](const GuiCall&) { output = RunAndCollect(command).output; });
    return output;
}

}  // namespace korvane
