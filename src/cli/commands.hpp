#pragma once

#include <CLI/CLI.hpp>
#include <initializer_list>
#include <string>
#include <string_view>

// Each subcommand of korvane-cli registers itself on the application and, when
// it runs, stores the process exit code in `exit_code`:
//   0 success, 1 the device did not do what was asked, 2 bad input; a command
//   that waits and is cut short by SIGINT (Ctrl-C) or SIGTERM exits 130 or 143
//   (ExitCodeAfterSignal in interrupt_watcher.hpp).
namespace korvane::cli {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_DEVICE_FAILED = 1;
inline constexpr int EXIT_BAD_INPUT = 2;

inline constexpr std::string_view PROGRAM = "korvane-cli";

// The last words of every --help: what the exit codes mean.
inline constexpr std::string_view EXIT_CODES_HELP =
    "Exit codes: 0 success; 1 a device did not do what was asked (or ping got no\n"
    "reply); 2 bad input or command line, nothing sent; 130 cut short by Ctrl-C\n"
    "(SIGINT); 143 cut short by SIGTERM.";

// A --help footer: "Examples:", the examples one a line, then EXIT_CODES_HELP.
[[nodiscard]] inline std::string HelpFooter(std::initializer_list<std::string_view> examples) {
    std::string footer = "Examples:\n";
    for (const std::string_view example : examples) {
        footer.append("  ").append(example).append("\n");
    }
    return footer.append("\n").append(EXIT_CODES_HELP);
}

void AddInspectCommand(CLI::App& app, int& exit_code);
void AddPingCommand(CLI::App& app, int& exit_code);
void AddDeviceCommands(CLI::App& app, int& exit_code);
void AddDownloadCommand(CLI::App& app, int& exit_code);

}  // namespace korvane::cli
