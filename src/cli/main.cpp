#include <iostream>
#include <string>

#include "base/version.hpp"
#include "cli/commands.hpp"

int main(int argc, char** argv) {
    CLI::App app{"korvane-cli: load firmware into network devices over UDP, headless"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("korvane-cli ") + korvane::VERSION);

    int exit_code = korvane::cli::EXIT_OK;
    korvane::cli::AddInspectCommand(app, exit_code);
    korvane::cli::AddPingCommand(app, exit_code);
    korvane::cli::AddDeviceCommands(app, exit_code);
    korvane::cli::AddDownloadCommand(app, exit_code);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // CLI11 maps parse errors to 100-127; a bad command line is bad input.
        (void)app.exit(e);
        return korvane::cli::EXIT_BAD_INPUT;
    }
    return exit_code;
}
