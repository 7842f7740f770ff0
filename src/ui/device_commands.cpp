// The window's device commands and ping: each waits away from the GUI thread,
// so the window keeps painting and showing a running download's progress.
#include <string>

#include "base/messages.hpp"
#include "download/download_inputs.hpp"
#include "link/machine_code_text.hpp"
#include "link/maintenance_commands.hpp"
#include "proc/ping_command_line.hpp"
#include "proc/run_and_collect.hpp"
#include "ui/download_dialog.hpp"
#include "ui/ping_output_dialog.hpp"
#include "ui/plain_message.hpp"
#include "ui/window_wait.hpp"

namespace korvane {
namespace {

using Command = CommandOutcome (*)(DeviceLink&, std::string_view, const ShowOutcome&,
                                   const LinkRoute&);

// One device command on the typed address: refused before anything is sent
// when the text is no address; its message shown while its endpoint is open.
void RunCommand(QWidget& window, DeviceLink& link, const QString& address_text, Command command) {
    const AddressCheck check = CheckDeviceAddress(address_text.toStdString());
    if (check.refusal) {
        ShowPlainMessage(&window, check.refusal->message);
        return;
    }
    const std::string text = address_text.toStdString();
    RunWhileWindowWaits(window, [&](const GuiCall& call_on_gui) {
        (void)command(link, text,
                      [&](const CommandOutcome& outcome) {
                          if (!outcome.message.empty()) {
                              call_on_gui([&] { ShowPlainMessage(&window, outcome.message); });
                          }
                      },
                      {});
    });
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
    const QString address_text = address_edit_->text();
    if (address_text.isEmpty()) {
        ShowPlainMessage(this, messages::IP_EMPTY);
        return;
    }
    std::string output;
    const std::string command = PingCommandLine(address_text.toStdString());
    RunWhileWindowWaits(*this, [&](const GuiCall&) { output = RunAndCollect(command).output; });
    PingOutputDialog dialog(QString::fromUtf8(output.data(), static_cast<qsizetype>(output.size())),
                            this);
    dialog.exec();
}

}  // namespace korvane
