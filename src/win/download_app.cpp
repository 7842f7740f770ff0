#include "win/download_app.hpp"

#include <commctrl.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>

#include "base/utf8_path.hpp"
#include "base/version.hpp"
#include "base/wide_text.hpp"
#include "frontend/program_arguments.hpp"
#include "win/download_dialog.hpp"
#include "win/settings.hpp"
#include "win/window_text.hpp"

namespace korvane {

int DownloadApp::Main() {
    const Utf8Arguments arguments(0, nullptr);
    const std::string program = Utf8FromWide(ProgramTitle());
    CLI::App app(
        "Loads a firmware file into a network device over UDP (port 21818).\n\n"
        "FILE and ADDRESS, when given, are shown in the window instead of the\n"
        "remembered ones; like typed values, they are remembered once a download\n"
        "starts. The window keeps its settings in %APPDATA%\\Korvane\\korvane.ini.",
        program);
    app.allow_windows_style_options(false);
    app.set_version_flag("-v,--version", program + " " + VERSION);
    bool maintenance = false;
    std::optional<std::string> address;
    std::optional<std::string> file;
    app.add_flag("--maintenance", maintenance,
                 "Show the service commands: restore the device's address, read its machine code.");
    app.add_option("--ip", address, "The device's address.")->option_text("ADDRESS");
    app.add_option("FILE", file, "The firmware file.");
    try {
        app.parse(arguments.Count(), arguments.Values());
    } catch (const CLI::CallForHelp&) {
        ShowPlainMessage(nullptr, app.help());
        return 0;
    } catch (const CLI::CallForVersion&) {
        ShowPlainMessage(nullptr, app.version());
        return 0;
    } catch (const CLI::ParseError& error) {
        ShowPlainMessage(nullptr,
                         std::string(error.what()) + "\nRun with --help for more information.");
        return 2;
    }

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    DownloadDialog::StartValues start;
    if (address) {
        start.address = WideFromUtf8(*address);
    }
    if (file) {
        // The window remembers the full path, and a later start may be elsewhere.
        start.firmware_path =
            file->empty() ? std::wstring() : std::filesystem::absolute(Utf8Path(*file)).wstring();
    }
    DownloadDialog dialog(
        Settings(FolderOf(ModulePath())),
        maintenance ? DownloadDialog::Controls::Maintenance : DownloadDialog::Controls::Operator,
        std::move(start));
    (void)dialog.DoModal();
    return 0;
}

}  // namespace korvane
