#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.hpp"
#include "cli/interrupt_watcher.hpp"
#include "download/download_inputs.hpp"
#include "proc/ping_command_line.hpp"
#include "proc/run_and_collect.hpp"

namespace korvane::cli {
namespace {

struct PingOptions {
    std::string address;
    unsigned count = DEFAULT_PING_COUNT;
};

// Each piece ping prints goes out at once, on the stream ping used.
void Print(ChildStream stream, std::string_view text) {
    std::FILE* const to = stream == ChildStream::Out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
}

// Exit 0 when ping got at least one reply (iputils ping then exits 0);
// 1 when it got none, failed or could not be started; 2 for an address that
// is not a device address; 130/143 when SIGINT/SIGTERM cut it short: the
// interrupt is passed on to ping, which prints its statistics and ends
// (within INTERRUPT_GRACE, or it is ended).
int RunPing(const PingOptions& options) {
    // The same check as every command that sends: a mistyped address is not pinged.
    const AddressCheck check = CheckDeviceAddress(options.address);
    if (check.refusal) {
        std::cerr << check.refusal->message
                  << (options.address.empty() ? "" : ": " + options.address) << '\n';
        return EXIT_BAD_INPUT;
    }
    // Before the runner's threads, which inherit the blocked signals.
    const InterruptWatcher signals([] {});
    const RunOutcome outcome =
        RunAndStream(PingCommandLine(options.address, options.count), Print,
                     PingTimeLimit(options.count), [&signals] { return signals.Signal() != 0; });
    if (signals.Signal() != 0) {
        return ExitCodeAfterSignal(signals.Signal());
    }
    if (outcome.timed_out) {
        const auto limit =
            std::chrono::duration_cast<std::chrono::seconds>(PingTimeLimit(options.count));
        std::cerr << PROGRAM << ": ping did not end within " << limit.count()
                  << " s and was stopped\n";
    }
    return outcome.exit_status == 0 ? EXIT_OK : EXIT_DEVICE_FAILED;
}

// A count of echo requests: a whole number from 1.
std::string CheckCount(const std::string& text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size() && value == 0) {
        return "at least one echo request is needed, not 0";
    }
    return {};  // anything else that is not a count, the conversion refuses
}

}  // namespace

void AddPingCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<PingOptions>();
    CLI::App* command = app.add_subcommand(
        "ping",
        "Connectivity check: run \"ping -c N ADDR\" and show its lines as they come; "
        "Ctrl-C ends it with ping's statistics");
    command->add_option("--ip", options->address, "Device IPv4 address")
        ->type_name("ADDR")
        ->required();
    command->add_option("-c,--count", options->count, "Echo requests to send (default 4)")
        ->type_name("N")
        ->check(CLI::Validator(CheckCount, ""));
    command->footer(HelpFooter({
        "korvane-cli ping --ip 192.168.1.88",
        "korvane-cli ping --count 100 --ip 192.168.1.88   # Ctrl-C prints the statistics",
    }));
    command->callback([options, &exit_code] { exit_code = RunPing(*options); });
}

}  // namespace korvane::cli
