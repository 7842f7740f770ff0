#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/commands.hpp"
#include "cli/interrupt_watcher.hpp"
#include "cli/route_options.hpp"
#include "frontend/device_list.hpp"
#include "frontend/json_text.hpp"
#include "link/device_link.hpp"
#include "link/machine_code_text.hpp"
#include "link/maintenance_commands.hpp"
#include "link/protocol.hpp"

namespace korvane::cli {
namespace {

enum class Command { RestoreIp, MachineCode };

struct DeviceCommandOptions {
    std::vector<std::string> addresses;
    std::string targets_file;
    bool json = false;
    RouteOptions route;
};

// Keeps the machine code the reply handling posts (receive thread) for the
// command to read once its wait is over (its own thread).
class MachineCodeSink final : public NotificationSink {
public:
    void Post(const Notification& notification) noexcept override {
        if (notification.code == UM_MACHINE_CODE) {
            const std::lock_guard lock(mutex_);
            code_ = notification;
        }
    }
    [[nodiscard]] std::optional<Notification> Code() const {
        const std::lock_guard lock(mutex_);
        return code_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<Notification> code_;
};

// What one device made of the request.
struct DeviceResult {
    bool succeeded = false;
    // What the window would show: the machine code, or the command's message;
    // empty when it would show nothing.
    std::string message;
    std::string reason;  // why it failed, in this program's words; empty on success

    // The line shown for the device: the message, or else the reason.
    [[nodiscard]] const std::string& Text() const { return message.empty() ? reason : message; }
};

// One device's exchange, with a sink, link (AckEvent, AbortFlag) and thread
// of its own, so that devices are asked side by side and never share a wait.
// The thread, last, is joined before the link and sink it uses go away.
struct DeviceExchange {
    ListedDevice device;
    MachineCodeSink sink;
    DeviceLink link{sink};
    DeviceResult result;
    std::jthread thread;
};

constexpr std::string_view NO_REPLY = "no reply within 5 s";
constexpr std::string_view CANCELLED = "cancelled";

DeviceResult Ask(Command command, DeviceExchange& exchange, const LinkRoute& route) {
    DeviceLink& link = exchange.link;
    if (command == Command::RestoreIp) {
        const CommandOutcome outcome = RestoreIp(link, exchange.device.text, {}, route);
        DeviceResult result{.succeeded = outcome.status == CommandStatus::Answered,
                            .message = std::string(outcome.message)};
        switch (outcome.status) {
            case CommandStatus::Answered:
                break;
            case CommandStatus::NoReply:
                // A refusal does not release the wait, but leaves the link's AbortFlag set.
                result.reason = link.Abort().load() ? "refused by the device" : NO_REPLY;
                break;
            case CommandStatus::Cancelled:
                result.reason = CANCELLED;
                break;
            case CommandStatus::EndpointFailed:
                result.reason = "the UDP socket could not be opened";
                break;
            case CommandStatus::InvalidAddress:
                result.reason = "invalid address";
                break;
        }
        return result;
    }
    const CommandOutcome outcome = GetMachineCode(link, exchange.device.text, {}, route);
    if (outcome.status != CommandStatus::Answered) {
        return {.message = std::string(outcome.message),
                .reason =
                    std::string(outcome.status == CommandStatus::Cancelled ? CANCELLED : NO_REPLY)};
    }
    // The code is posted before the wait is released, so it is here already.
    if (const auto code = exchange.sink.Code()) {
        return {.succeeded = true, .message = FormatMachineCode(code->first, code->second)};
    }
    return {.reason = "the device answered without a machine code"};
}

void PrintJson(Command command, const DeviceExchange& exchange) {
    const DeviceResult& result = exchange.result;
    std::string line = "{\"address\":" + JsonString(exchange.device.text) + ",\"result\":\"" +
                       (result.succeeded ? "succeeded" : "failed") + "\"";
    if (command == Command::MachineCode) {
        line += ",\"machine_code\":" + (result.succeeded ? JsonString(result.message) : "null");
    }
    line += ",\"reason\":" + (result.succeeded ? "null" : JsonString(result.reason)) + "}\n";
    std::fputs(line.c_str(), stdout);
}

// One device: the result alone, as the window would show it, a failure on
// stderr. Several: one line per device on stdout, address first, in the
// order given.
void PrintText(const std::vector<DeviceExchange>& exchanges) {
    if (exchanges.size() == 1) {
        const DeviceResult& result = exchanges.front().result;
        if (result.succeeded) {
            std::printf("%s\n", result.message.c_str());
        } else {
            std::cerr << (result.message.empty() ? std::string(PROGRAM) + ": " : "")
                      << result.Text() << '\n';
        }
        return;
    }
    std::size_t width = 0;
    for (const DeviceExchange& exchange : exchanges) {
        width = std::max(width, exchange.device.text.size());
    }
    for (const DeviceExchange& exchange : exchanges) {
        std::printf("%-*s  %s\n", static_cast<int>(width), exchange.device.text.c_str(),
                    exchange.result.Text().c_str());
    }
}

int RunDeviceCommand(Command command, const DeviceCommandOptions& options) {
    // Every address is checked before anything is sent.
    const DeviceList list = CollectDevices(options.addresses, options.targets_file);
    if (list.refusal) {
        std::cerr << list.refusal->Line(PROGRAM) << '\n';
        return EXIT_BAD_INPUT;
    }
    StderrTrace trace;
    const std::optional<LinkRoute> route = MakeRoute(options.route, trace);
    if (!route) {
        return EXIT_BAD_INPUT;
    }
    std::vector<DeviceExchange> exchanges(list.devices.size());
    // Before any other thread: a signal cancels every link like the window's
    // close box, so each wait ends at once.
    const InterruptWatcher signals([&exchanges] {
        for (DeviceExchange& exchange : exchanges) {
            exchange.link.Abort().store(true);
            exchange.link.Ack().Cancel();
        }
    });
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        DeviceExchange& exchange = exchanges[i];
        exchange.device = list.devices[i];
        if (signals.Signal() != 0) {
            exchange.result = {.reason = std::string(CANCELLED)};
            continue;  // nothing more is sent after a signal
        }
        try {
            exchange.thread = std::jthread(
                [command, &exchange, &route] { exchange.result = Ask(command, exchange, *route); });
        } catch (const std::system_error&) {
            exchange.result = {.reason = "no thread could be started for the request"};
        }
    }
    bool all_succeeded = true;
    for (DeviceExchange& exchange : exchanges) {
        if (exchange.thread.joinable()) {
            exchange.thread.join();
        }
        all_succeeded = all_succeeded && exchange.result.succeeded;
    }
    if (options.json) {
        for (const DeviceExchange& exchange : exchanges) {
            PrintJson(command, exchange);
        }
    } else {
        PrintText(exchanges);
    }
    std::fflush(stdout);
    if (signals.Signal() != 0) {
        return ExitCodeAfterSignal(signals.Signal());
    }
    return all_succeeded ? EXIT_OK : EXIT_DEVICE_FAILED;
}

void AddDeviceCommand(CLI::App& app, const char* name, const char* description, Command which,
                      std::initializer_list<std::string_view> examples, int& exit_code) {
    auto options = std::make_shared<DeviceCommandOptions>();
    CLI::App* command = app.add_subcommand(name, description);
    AddDeviceOptions(*command, options->addresses, options->targets_file, options->json);
    AddRouteOptions(*command, options->route);
    command->footer(HelpFooter(examples));
    command->callback(
        [options, which, &exit_code] { exit_code = RunDeviceCommand(which, *options); });
}

}  // namespace

void AddDeviceCommands(CLI::App& app, int& exit_code) {
    AddDeviceCommand(app, "restore-ip",
                     "Ask each device to restore its network address (one request, waits up to "
                     "5 s); several devices are asked side by side",
                     Command::RestoreIp,
                     {"korvane-cli restore-ip --ip 192.168.1.88",
                      "korvane-cli restore-ip --json --ip 192.168.1.88 --ip 192.168.1.89"},
                     exit_code);
    AddDeviceCommand(app, "machine-code",
                     "Read each device's machine code (one request, waits up to 5 s); several "
                     "devices are asked side by side",
                     Command::MachineCode,
                     {"korvane-cli machine-code --ip 192.168.1.88",
                      "korvane-cli machine-code --json --targets rack.txt",
                      "grep -v '^#' rack.txt | korvane-cli machine-code --targets -"},
                     exit_code);
}

}  // namespace korvane::cli
