// The window's device commands and ping: each waits away from the GUI thread,
// so the window keeps painting and showing a running download's progress.
#include <string>

#include "frontend/window_command.hpp"
#include "link/machine_code_text.hpp"
#include "ui/download_dialog.hpp"
#include "ui/ping_output_dialog.hpp"
#include "ui/plain_message.hpp"
#include "ui/window_wait.hpp"

namespace korvane {
namespace {

WindowCalls CallsOf(QWidget& window) {
    return {.tell = [&window](std::string_view text) { ShowPlainMessage(&window, text); },
            .wait = [&window](const WaitingWork& work) { RunWhileWindowWaits(window, work); }};
}

// One device command on the typed address, as both windows run it.
void RunCommand(QWidget& window, DeviceLink& link, const QString& address_text,
                DeviceCommand command) {
    RunDeviceCommand(link, address_text.toStdString(), command, CallsOf(window));
}

}  // namespace

void DownloadDialog::OnRestoreIp() {
    RunCommand(*this, link_, address_edit_->text(), RestoreIp);
}

void DownloadDialog::OnGetMachineCode() {
    const WaitCursor wait_cursor;
    RunCommand(*this, link_, address_edit_->text(), GetMachineCode);
}

void DownloadDialog::OnMachineCode(std::uint32_t first, std::uint32_t second) {
    machine_code_edit_->setText(QString::fromStdString(FormatMachineCode(first, second)));
}

void DownloadDialog::OnPing() {
    const WaitCursor wait_cursor;  // until the output dialog has closed
    if (const auto output = RunPing(address_edit_->text().toStdString(), CallsOf(*this))) {
        PingOutputDialog dialog(
            QString::fromUtf8(output->data(), static_cast<qsizetype>(output->size())), this);
        dialog.exec();
    }
}

}  // namespace korvane
