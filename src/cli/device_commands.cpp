#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/messages.hpp"
#include "cli/commands.hpp"
#include "cli/interrupt_watcher.hpp"
#include "link/device_link.hpp"
#include "link/machine_code_text.hpp"
#include "link/maintenance_commands.hpp"
#include "link/protocol.hpp"

namespace korvane::cli {
namespace {

// Keeps the machine code the reply handling posts (receive thread) for the
// command to read once its wait is over (main thread).
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

struct AddressOption {
    std::string ip;
};

int ExitCodeFor(CommandStatus status) {
    switch (status) {
        case CommandStatus::Answered:
            return EXIT_OK;
        case CommandStatus::InvalidAddress:
            return EXIT_BAD_INPUT;
        case CommandStatus::NoReply:
        case CommandStatus::Cancelled:
        case CommandStatus::EndpointFailed:
            return EXIT_DEVICE_FAILED;
    }
    return EXIT_DEVICE_FAILED;
}

bool RefuseEmptyAddress(const std::string& ip) {
    if (!ip.empty()) {
        return false;
    }
    std::cerr << messages::IP_EMPTY << '\n';
    return true;
}

// A signal during the wait cancels the link like the window's close box: the
// wait ends at once and the command exits 130 (SIGINT) or 143 (SIGTERM). Made
// before the command's endpoint, so its receive thread inherits the mask.
class CancelOnSignal {
public:
    explicit CancelOnSignal(DeviceLink& link)
        : watcher_([&link] {
              link.Abort().store(true);
              link.Ack().Cancel();
          }) {}
    // `exit_code`, unless a signal came: then the code that tells which.
    [[nodiscard]] int ExitCode(int exit_code) const noexcept {
        const int signal_number = watcher_.Signal();
        return signal_number != 0 ? ExitCodeAfterSignal(signal_number) : exit_code;
    }

private:
    InterruptWatcher watcher_;
};

int RunRestoreIp(const AddressOption& options) {
    if (RefuseEmptyAddress(options.ip)) {
        return EXIT_BAD_INPUT;
    }
    MachineCodeSink sink;
    DeviceLink link(sink);
    const CancelOnSignal signals(link);
    const CommandOutcome outcome = RestoreIp(link, options.ip);
    (outcome.status == CommandStatus::Answered ? std::cout : std::cerr) << outcome.message << '\n';
    return signals.ExitCode(ExitCodeFor(outcome.status));
}

int RunGetMachineCode(const AddressOption& options) {
    if (RefuseEmptyAddress(options.ip)) {
        return EXIT_BAD_INPUT;
    }
    MachineCodeSink sink;
    DeviceLink link(sink);
    const CancelOnSignal signals(link);
    const CommandOutcome outcome = GetMachineCode(link, options.ip);
    if (outcome.status != CommandStatus::Answered) {
        if (!outcome.message.empty()) {
            std::cerr << outcome.message << '\n';
        }
        return signals.ExitCode(ExitCodeFor(outcome.status));
    }
    // The code is posted before the wait is released, so it is here already.
    if (const auto code = sink.Code()) {
        std::cout << FormatMachineCode(code->first, code->second) << '\n';
        return signals.ExitCode(EXIT_OK);
    }
    std::cerr << "korvane-cli: the device answered without a machine code\n";
    return signals.ExitCode(EXIT_DEVICE_FAILED);
}

void AddAddressCommand(CLI::App& app, const char* name, const char* description,
                       int (*run)(const AddressOption&), int& exit_code) {
    auto options = std::make_shared<AddressOption>();
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("--ip", options->ip, "Device IPv4 address")->required();
    command->callback([options, run, &exit_code] { exit_code = run(*options); });
}

}  // namespace

void AddDeviceCommands(CLI::App& app, int& exit_code) {
    AddAddressCommand(app, "restore-ip",
                      "Ask the device to restore its network address (waits up to 5 s)",
                      RunRestoreIp, exit_code);
    AddAddressCommand(app, "machine-code", "Read the device's machine code (waits up to 5 s)",
                      RunGetMachineCode, exit_code);
}

}  // namespace korvane::cli
