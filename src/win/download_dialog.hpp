#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frontend/dialog_controls.hpp"
#include "frontend/window_job.hpp"
#include "link/device_link.hpp"
#include "win/settings.hpp"
#include "win/text_progress_bar.hpp"
#include "win/window_inbox.hpp"

namespace korvane {

// The program's main window, made from dialog template 102: progress bar,
// device address, firmware path and the command buttons.
//
// Owns its Settings, the DeviceLink (AckEvent, AbortFlag) shared by the
// download and the device commands, the inbox that turns their notifications
// into posted messages, the progress bar's painting, and the current
// DownloadWorker. Every way the dialog ends (Quit, Escape, Enter, close box)
// and its destruction stop and join a running job first, so no thread outlives
// it or touches its window. Made, run and destroyed on the UI thread.
class DownloadDialog {
public:
    // Operator: the service controls stay hidden (and their buttons disabled);
    // Maintenance shows and enables them.
    enum class Controls { Operator, Maintenance };
    // Given on the program's command line: shown instead of the remembered
    // values and, like typed text, saved only when a download starts.
    struct StartValues {
        std::optional<std::wstring> address;
        std::optional<std::wstring> firmware_path;
    };
    DownloadDialog(Settings settings, Controls controls, StartValues start = {});
    ~DownloadDialog();
    DownloadDialog(const DownloadDialog&) = delete;
    DownloadDialog& operator=(const DownloadDialog&) = delete;

    // Runs the dialog modally; returns the command that ended it (IDOK, IDCANCEL).
    INT_PTR DoModal();
    // Opens the dialog without a modal loop of its own (the caller pumps
    // messages); it ends the same ways, and Result() tells how.
    HWND Create();
    [[nodiscard]] HWND Window() const noexcept { return window_; }
    [[nodiscard]] std::optional<INT_PTR> Result() const noexcept { return result_; }

    [[nodiscard]] TextProgressBar& ProgressBar() noexcept { return progress_bar_; }
    [[nodiscard]] const std::wstring& FirmwarePath() const noexcept { return firmware_path_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);

    BOOL OnInitDialog();
    BOOL OnPaint();
    void OnCommand(int id);
    void OnClose();
    void End(INT_PTR result);

    void OnDownload();
    void OnBrowse();
    void OnPing();
    void OnRestoreIp();
    void OnGetMachineCode();

    void OnPacketAcked();
    void OnDownloadDone(WPARAM succeeded);
    void OnMachineCode(WPARAM first, LPARAM second);

    Settings settings_;
    const Controls controls_;
    const StartValues start_;
    HICON main_icon_ = nullptr;  // the module's shared icon 128: never destroyed
    HWND window_ = nullptr;
    bool modal_ = false;
    std::optional<INT_PTR> result_;
    std::wstring firmware_path_;  // the path box's text, as last exchanged
    TextProgressBar progress_bar_;

    // In this order, so that the job goes before the link it uses and the
    // link before the inbox it posts to.
    WindowInbox inbox_;
    DeviceLink link_{inbox_};
    WindowJob job_{link_, [this] { inbox_.NextJob(); }};
};

}  // namespace korvane
