#include "frontend/window_command.hpp"

#include "download/download_inputs.hpp"

namespace korvane {

void RunDeviceCommand(DeviceLink& link, const std::string& address_text, DeviceCommand command,
                      const std::function<void(std::string_view)>& tell,
                      const std::function<void(const WaitingWork&)>& wait) {
    const AddressCheck check = CheckDeviceAddress(address_text);
    if (check.refusal) {
        tell(check.refusal->message);
        return;
    }
    wait([&](const GuiCall& call_on_gui) {
        (void)command(link, address_text,
                      [&](const CommandOutcome& outcome) {
                          if (!outcome.message.empty()) {
                              call_on_gui([&] { tell(outcome.message); });
                          }
                      },
                      {});
    });
}

}  // namespace korvane
