#include "link/maintenance_commands.hpp"

#include <algorithm>
#include <chrono>
#include <optional>

#include "base/messages.hpp"
#include "link/device_address.hpp"
#include "link/protocol.hpp"
#include "link/udp_endpoint.hpp"

namespace korvane {
namespace {

enum class WhenOpenFails { Stop, GoOn };

// How often a command's wait looks whether the front end cancelled the link.
constexpr std::chrono::milliseconds CANCEL_CHECK{50};

// The owner of one command's endpoint: the reply rules act on the link's
// AbortFlag and sink as for any reply, but release only the command's own
// event. A running download of the same link therefore never takes the
// command's reply, and abandoning the download never ends the command's wait.
// Lives for one command, on its thread; HandleDeviceReply runs on the
// endpoint's receive thread.
class ExchangeGate final : public DeviceReplyHandler {
public:
    explicit ExchangeGate(DeviceLink& link) : link_(link) {}
    void HandleDeviceReply(std::span<const std::uint8_t> datagram) noexcept override {
        ApplyReplyEffects(DecideReplyEffects(datagram), ack_, link_.Abort(), link_.Sink());
    }

    // Waits up to the command's 5000 ms; a cancel of the link ends it at once.
    [[nodiscard]] CommandStatus AwaitReply() {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(ACK_WAIT_MS);
        for (;;) {
            if (link_.Ack().IsCancelled()) {
                return CommandStatus::Cancelled;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= std::chrono::milliseconds(0)) {
                return CommandStatus::NoReply;
            }
            if (ack_.WaitFor(std::min(left, CANCEL_CHECK)) == AckWait::Acknowledged) {
                return CommandStatus::Answered;
            }
        }
    }

private:
    DeviceLink& link_;
    AckEvent ack_;
};

// One request, one wait. `describe` turns the status into what the operator is
// told; `show` sees it while the endpoint is still open.
template <typename Describe>
CommandOutcome Exchange(DeviceLink& link, std::string_view address_text,
                        std::span<const std::uint8_t> request, WhenOpenFails when_open_fails,
                        Describe describe, const ShowOutcome& show, const LinkRoute& route) {
    const std::optional<in_addr> address = ParseDeviceAddress(address_text);
    if (!address) {
        const CommandOutcome refused{CommandStatus::InvalidAddress, messages::IP_INVALID};
        if (show) {
            show(refused);
        }
        return refused;
    }

    // A fresh gate per command: nothing left over from an earlier exchange
    // can release this wait.
    ExchangeGate gate(link);
    UdpEndpoint endpoint(gate);
    endpoint.SetRemote(*address, route);
    CommandStatus status = CommandStatus::NoReply;
    const bool opened = !endpoint.Open();
    if (!opened && when_open_fails == WhenOpenFails::Stop) {
        status = CommandStatus::EndpointFailed;
    } else {
        // A request that cannot go out shows as no reply, as the described commands do.
        (void)endpoint.Send(request);
        status = gate.AwaitReply();
    }
    const CommandOutcome outcome{status, describe(status)};
    if (show) {
        show(outcome);
    }
    return outcome;
}

}  // namespace

CommandOutcome RestoreIp(DeviceLink& link, std::string_view address_text, const ShowOutcome& show,
                         const LinkRoute& route) {
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
    return Exchange(link, address_text, RESTORE_IP_REQUEST, WhenOpenFails::Stop, describe, show,
                    route);
}

CommandOutcome GetMachineCode(DeviceLink& link, std::string_view address_text,
                              const ShowOutcome& show, const LinkRoute& route) {
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
                    show, route);
}

}  // namespace korvane
