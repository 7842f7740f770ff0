// The window's device commands and ping: each waits away from the UI thread,
// so the window keeps painting and showing a running download's progress.
#include <string>

#include "base/wide_text.hpp"
#include "frontend/window_command.hpp"
#include "link/machine_code_text.hpp"
#include "win/download_dialog.hpp"
#include "win/ping_output_dialog.hpp"
#include "win/window_text.hpp"
#include "win/window_wait.hpp"

namespace korvane {
namespace {

std::string TypedAddress(HWND window) {
    return Utf8FromWide(WindowText(GetDlgItem(window, ID_ADDRESS)));
}

WindowCalls CallsOf(HWND window) {
    return {.tell = [window](std::string_view text) { ShowPlainMessage(window, text); },
            .wait = [window](const WaitingWork& work) { RunWhileWindowWaits(window, work); }};
}

// One device command on the typed address, as both windows run it.
void RunCommand(HWND window, DeviceLink& link, DeviceCommand command) {
    RunDeviceCommand(link, TypedAddress(window), command, CallsOf(window));
}

}  // namespace

void DownloadDialog::OnRestoreIp() {
    RunCommand(window_, link_, RestoreIp);
}

void DownloadDialog::OnGetMachineCode() {
    const WaitCursor wait_cursor;
    RunCommand(window_, link_, GetMachineCode);
}

void DownloadDialog::OnMachineCode(WPARAM first, LPARAM second) {
    const std::string text =
        FormatMachineCode(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(second));
    SetDlgItemTextW(window_, ID_MACHINE_CODE, WideFromUtf8(text).c_str());
}

void DownloadDialog::OnPing() {
    const WaitCursor wait_cursor;  // until the output dialog has closed
    if (const auto output = RunPing(TypedAddress(window_), CallsOf(window_))) {
        PingOutputDialog dialog(WideFromUtf8(*output));
        (void)dialog.DoModal(window_);
    }
}

}  // namespace korvane
