#include <iostream>
#include <memory>
#include <string>

#include "base/messages.hpp"
#include "cli/commands.hpp"
#include "cli/interrupt_watcher.hpp"
#include "proc/ping_command_line.hpp"
#include "proc/run_and_collect.hpp"

namespace korvane::cli {
namespace {

struct PingOptions {
    std::string address;
};

// Exit 0 when ping got at least one reply (iputils ping then exits 0);
// 1 when it got none, failed or could not be started; 2 for an empty address;
// 130/143 when SIGINT/SIGTERM cut it short (ping's process group is ended and
// what it printed so far is shown); ping gets at most RUN_AND_COLLECT_LIMIT.
int RunPing(const PingOptions& options) {
    if (options.address.empty()) {
        std::cerr << messages::IP_EMPTY << '\n';
        return EXIT_BAD_INPUT;
    }
    // Before the runner's threads, which inherit the blocked signals.
    const InterruptWatcher signals([] {});
    std::string output;
    const RunOutcome outcome =
        RunAndCollect(PingCommandLine(options.address), output, RUN_AND_COLLECT_LIMIT,
                      [&signals] { return signals.Signal() != 0; });
    std::cout << output << std::flush;
    if (signals.Signal() != 0) {
        return ExitCodeAfterSignal(signals.Signal());
    }
    return outcome.exit_status == 0 ? EXIT_OK : EXIT_DEVICE_FAILED;
}

}  // namespace

void AddPingCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<PingOptions>();
    CLI::App* command = app.add_subcommand(
        "ping", "Connectivity check: run \"ping -c 4 ADDR\" and print what it printed");
    command
        ->add_option("--ip", options->address,
                     "Device address, passed to ping as typed (extra words become ping options)")
        ->required();
    command->callback([options, &exit_code] { exit_code = RunPing(*options); });
}

}  // namespace korvane::cli
