#include "link/maintenance_commands.hpp"

#include <chrono>
#include <optional>

#include "base/messages.hpp"
#include "link/device_address.hpp"
#include "link/protocol.hpp"
#include "link/udp_endpoint.hpp"

namespace korvane {
namespace {

enum class WhenOpenFails { Stop, GoOn };

// One request, one wait. `describe` turns the status into what the operator is
// told; `show` sees it while the endpoint is still open.
template <typename Describe>
CommandOutcome Exchange(DeviceLink& link, std::string_view address_text,
                        std::span<const std::uint8_t> request, WhenOpenFails when_open_fails,
                        Describe describe, const ShowOutcome& show) {
    const std::optional<in_addr> address = ParseDeviceAddress(address_text);
    if (!address) {
        const CommandOutcome refused{CommandStatus::InvalidAddress, messages::IP_INVALID};
        if (show) {
            show(refused);
        }
        return refused;
    }

    UdpEndpoint endpoint(link);
    endpoint.SetRemote(*address, DEVICE_PORT);
    CommandStatus status = CommandStatus::NoReply;
    if (!endpoint.Open() && when_open_fails == WhenOpenFails::Stop) {
        status = CommandStatus::EndpointFailed;
    } else {
        // Only a reply to this request may release the wait, not one left over
        // from an earlier exchange.
        link.Ack().Reset();
        (void)endpoint.Send(request);
        switch (link.Ack().WaitFor(std::chrono::milliseconds(ACK_WAIT_MS))) {
            case AckWait::Acknowledged:
                status = CommandStatus::Answered;
                break;
            case AckWait::TimedOut:
                status = CommandStatus::NoReply;
                break;
            case AckWait::Cancelled:
                status = CommandStatus::Cancelled;
                break;
        }
    }
    const CommandOutcome outcome{status, describe(status)};
    if (show) {
        show(outcome);
    }
    return outcome;
}

}  // namespace

CommandOutcome RestoreIp(DeviceLink& link, std::string_view address_text, const ShowOutcome& show) {
    const auto describe = [](CommandStatus status) -> std::string_view {
        switch (status) {
            case CommandStatus::Answered:
                return messages::RESTORE_IP_SUCCEEDED;
            case CommandStatus::EndpointFailed:
                return messages::UDP_INIT_FAILED;
            case CommandStatus::InvalidAddress:
                return messages::IP_INVALID;
            case CommandStatus::NoReply:
            case CommandStatus::Cancelled:
                return messages::RESTORE_IP_FAILED;
        }
        return messages::RESTORE_IP_FAILED;
    };
    return Exchange(link, address_text, RESTORE_IP_REQUEST, WhenOpenFails::Stop, describe, show);
}

CommandOutcome GetMachineCode(DeviceLink& link, std::string_view address_text,
                              const ShowOutcome& show) {
    const auto describe = [](CommandStatus status) -> std::string_view {
        switch (status) {
            case CommandStatus::NoReply:
            case CommandStatus::EndpointFailed:
                return messages::MACHINE_CODE_NO_REPLY;
            case CommandStatus::InvalidAddress:
                return messages::IP_INVALID;
            case CommandStatus::Answered:
            case CommandStatus::Cancelled:
                return {};
        }
        return {};
    };
    return Exchange(link, address_text, GET_MACHINE_CODE_REQUEST, WhenOpenFails::GoOn, describe,
                    show);
}

}  // namespace korvane
