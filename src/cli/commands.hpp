#pragma once

#include <CLI/CLI.hpp>

// Each subcommand of korvane-cli registers itself on the application and, when
// it runs, stores the process exit code in `exit_code`:
//   0 success, 1 the device did not do what was asked, 2 bad input; a command
//   that waits and is cut short by SIGINT (Ctrl-C) or SIGTERM exits 130 or 143
//   (ExitCodeAfterSignal in interrupt_watcher.hpp).
namespace korvane::cli {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_DEVICE_FAILED = 1;
inline constexpr int EXIT_BAD_INPUT = 2;

void AddInspectCommand(CLI::App& app, int& exit_code);
void AddPingCommand(CLI::App& app, int& exit_code);
void AddDeviceCommands(CLI::App& app, int& exit_code);
void AddDownloadCommand(CLI::App& app, int& exit_code);

}  // namespace korvane::cli
