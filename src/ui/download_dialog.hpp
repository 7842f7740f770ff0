#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <cstdint>
#include <memory>

#include "frontend/dialog_controls.hpp"
#include "frontend/window_job.hpp"
#include "link/device_link.hpp"
#include "ui/notification_inbox.hpp"
#include "ui/settings.hpp"
#include "ui/text_progress_bar.hpp"

namespace korvane {

// The program's main window: progress bar, device address, firmware path and
// the command buttons, laid out in dialog units of its 9 pt Song face. Each
// control's object name is its identifier ("1003"); the frames and labels
// without one are named "group-percentage", "group-communication",
// "group-file", "label-ip" and "label-machine-code".
//
// Owns its Settings, the DeviceLink (AckEvent, AbortFlag) shared by the
// download and the device commands, the inbox where their notifications
// arrive, and the current DownloadWorker. Every way the dialog ends (Quit,
// Escape, Enter, close box) and its destruction stop and join a running job
// first, so no thread outlives it. Made, used and destroyed on the GUI thread.
class DownloadDialog final : public QDialog {
public:
    // Operator: the service controls stay hidden (and their buttons disabled);
    // Maintenance shows and enables them.
    enum class Controls { Operator, Maintenance };
    // Given on the program's command line: shown instead of the remembered
    // values (a null text keeps the remembered one) and, like typed text,
    // saved only when a download starts.
    struct StartValues {
        QString address;
        QString firmware_path;
    };
    DownloadDialog(Settings settings, Controls controls, const StartValues& start = {},
                   QWidget* parent = nullptr);
    ~DownloadDialog() override;
    DownloadDialog(const DownloadDialog&) = delete;
    DownloadDialog& operator=(const DownloadDialog&) = delete;

    // Carries out the command of a control, as its button would; hidden
    // controls' commands too (ID_OK is the Enter key's).
    void OnCommand(int id);

    [[nodiscard]] TextProgressBar& ProgressBar() { return *progress_bar_; }

    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Layout(Controls controls);
    void OnInitDialog(const StartValues& start);

    void OnDownload();
    void OnBrowse();
    void OnPing();
    void OnRestoreIp();
    void OnGetMachineCode();

    void OnNotification(const TaggedNotification& tagged);
    void OnPacketAcked();
    void OnDownloadDone(std::uint32_t succeeded);
    void OnMachineCode(std::uint32_t first, std::uint32_t second);

    Settings settings_;
    QString firmware_path_;  // the path box's text, as last exchanged
    TextProgressBar* progress_bar_ = nullptr;
    QLineEdit* address_edit_ = nullptr;
    QLineEdit* path_edit_ = nullptr;
    QLineEdit* machine_code_edit_ = nullptr;

    // In this order, so that the job goes before the link it uses and the
    // link before the inbox it posts to.
    NotificationInbox inbox_;
    DeviceLink link_{inbox_};
    std::uint64_t job_number_ = 0;  // of the current job; older notifications are stale
    WindowJob job_{link_, [this] { job_number_ = inbox_.NextJob(); }};
};

}  // namespace korvane
