#include <iostream>
#include <string>

#include "base/version.hpp"
#include "cli/commands.hpp"
#include "frontend/parse_error_text.hpp"
#include "frontend/program_arguments.hpp"

namespace {

using korvane::cli::PROGRAM;

// Tells the operator, in plain words, what is wrong with the command line.
void ReportParseError(const CLI::App& app, const CLI::ParseError& error) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    const CLI::App& command = chosen.empty() ? app : *chosen.back();
    korvane::ParseFailure failure{.kind = error.get_name(), .message = error.what()};
    failure.leftovers = app.remaining(false);
    if (&command != &app) {
        const std::vector<std::string> more = command.remaining(false);
        failure.leftovers.insert(failure.leftovers.end(), more.begin(), more.end());
    } else {
        for (const CLI::App* subcommand : app.get_subcommands({})) {
            failure.subcommands.push_back(subcommand->get_name());
        }
    }
    std::string name(PROGRAM);
    if (&command != &app) {
        name += " " + command.get_name();
    }
    std::cerr << name << ": " << korvane::DescribeParseFailure(failure) << "\nSee '" << name
              << " --help'.\n";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"korvane-cli: load firmware into network devices over UDP, headless",
                 std::string(PROGRAM)};
    app.require_subcommand(1);
    // "/name" is a path, not an option, on every platform (CLI11 reads it as
    // an option on Windows by default); subcommands made below inherit this.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string(PROGRAM) + " " + korvane::VERSION);
    app.footer(korvane::cli::HelpFooter({
        "korvane-cli download --ip 192.168.1.88 firmware.zip",
        "korvane-cli ping --ip 192.168.1.88",
        "korvane-cli machine-code --json --targets rack.txt",
    }));

    int exit_code = korvane::cli::EXIT_OK;
    korvane::cli::AddInspectCommand(app, exit_code);
    korvane::cli::AddPingCommand(app, exit_code);
    korvane::cli::AddDeviceCommands(app, exit_code);
    korvane::cli::AddDownloadCommand(app, exit_code);

    const korvane::Utf8Arguments arguments(argc, argv);
    korvane::ShowUtf8OnConsole();
    try {
        app.parse(arguments.Count(), arguments.Values());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // A bad command line is bad input (CLI11's own codes are 100-127).
        ReportParseError(app, e);
        return korvane::cli::EXIT_BAD_INPUT;
    }
    return exit_code;
}
