#include "win/download_dialog.hpp"

#include <commdlg.h>

#include <string>

#include "base/messages.hpp"
#include "base/wide_text.hpp"
#include "download/packet_queue.hpp"
#include "download/start_download.hpp"
#include "link/protocol.hpp"
#include "win/window_text.hpp"

namespace korvane {
namespace {

void ShowRefusal(HWND owner, const DownloadRefusal& refusal) {
    ShowPlainMessage(owner, refusal.message);
    if (refusal.beep) {
        MessageBeep(0xFFFFFFFF);  // after the box, as the operator dismisses it
    }
}

}  // namespace

DownloadDialog::DownloadDialog(Settings settings, Controls controls, StartValues start)
    : settings_(std::move(settings)),
      controls_(controls),
      start_(std::move(start)),
      main_icon_(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128))) {}

DownloadDialog::~DownloadDialog() {
    (void)job_.Stop();
    if (window_ != nullptr) {
        DestroyWindow(window_);  // a dialog made by Create() that is still open
    }
}

INT_PTR DownloadDialog::DoModal() {
    modal_ = true;
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(102), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

HWND DownloadDialog::Create() {
    modal_ = false;
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(102), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK DownloadDialog::DialogProc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        auto* self = reinterpret_cast<DownloadDialog*>(lparam);
        self->window_ = window;
    }
    auto* self = reinterpret_cast<DownloadDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE;  // what comes before WM_INITDIALOG (the font)
    }
    if (message == WM_NCDESTROY) {
        self->window_ = nullptr;
        self->inbox_.SetWindow(nullptr);
        return FALSE;
    }
    return self->Handle(message, wparam, lparam);
}

INT_PTR DownloadDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(main_icon_);
        case WM_COMMAND:
            OnCommand(LOWORD(wparam));
            return TRUE;
        case WM_CLOSE:
            OnClose();
            return FALSE;  // the dialog's own handling turns it into Cancel
        case WM_SETCURSOR:
            return WaitCursor::Answer(window_);
        case UM_PACKET_ACKED:
            if (static_cast<std::uint32_t>(lparam) == inbox_.Job()) {
                OnPacketAcked();
            }
            return TRUE;  // a stale one, from an abandoned job, moves nothing
        case UM_DOWNLOAD_DONE:
            if (static_cast<std::uint32_t>(lparam) == inbox_.Job()) {
                OnDownloadDone(wparam);
            }
            return TRUE;
        case UM_UDP_INIT_FAILED:
            if (static_cast<std::uint32_t>(lparam) == inbox_.Job()) {
                ShowPlainMessage(window_, messages::UDP_INIT_FAILED);
            }
            return TRUE;
        case UM_MACHINE_CODE:
            OnMachineCode(wparam, lparam);
            return TRUE;
        default:
            return FALSE;
    }
}

BOOL DownloadDialog::OnInitDialog() {
    inbox_.SetWindow(window_);
    (void)progress_bar_.Attach(GetDlgItem(window_, ID_PROGRESS));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(main_icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(main_icon_));
    if (controls_ == Controls::Maintenance) {
        // The service buttons, and between them the label and box of the machine code.
        const HWND first = GetDlgItem(window_, ID_RESTORE_IP);
        for (HWND control = first; control != nullptr; control = GetWindow(control, GW_HWNDNEXT)) {
            ShowWindow(control, SW_SHOW);
            EnableWindow(control, TRUE);
            if (control == GetDlgItem(window_, ID_GET_MACHINE_CODE)) {
                break;
            }
        }
    }
    // What the operator named at start-up wins over what was remembered.
    const std::wstring address = start_.address.value_or(settings_.Ip());
    firmware_path_ = start_.firmware_path.value_or(settings_.FileName());
    SetDlgItemTextW(window_, ID_ADDRESS, address.c_str());
    SetDlgItemTextW(window_, ID_FIRMWARE_PATH, firmware_path_.c_str());
    return TRUE;  // the focus goes to the first tab stop, "Quit"
}

BOOL DownloadDialog::OnPaint() {
    if (!IsIconic(window_)) {
        return FALSE;
    }
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window_, &paint);
    SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int icon_width = GetSystemMetrics(SM_CXICON);
    const int icon_height = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(window_, &client);
    DrawIcon(dc, (client.right - client.left - icon_width + 1) / 2,
             (client.bottom - client.top - icon_height + 1) / 2, main_icon_);
    EndPaint(window_, &paint);
    return TRUE;
}

void DownloadDialog::OnCommand(int id) {
    switch (id) {
        case ID_OK:
            firmware_path_ = WindowText(GetDlgItem(window_, ID_FIRMWARE_PATH));
            End(ID_OK);
            break;
        case ID_QUIT:
            End(ID_QUIT);
            break;
        case ID_DOWNLOAD:
            OnDownload();
            break;
        case ID_BROWSE:
            OnBrowse();
            break;
        case ID_PING:
            OnPing();
            break;
        case ID_RESTORE_IP:
            OnRestoreIp();
            break;
        case ID_GET_MACHINE_CODE:
            OnGetMachineCode();
            break;
        default:
            break;
    }
}

void DownloadDialog::OnClose() {
    // The close box fails a running download at once, whatever it waits for.
    link_.Abort().store(true);
    link_.Ack().Cancel();
}

void DownloadDialog::End(INT_PTR result) {
    (void)job_.Stop();
    result_ = result;
    if (modal_) {
        EndDialog(window_, result);
    } else {
        DestroyWindow(window_);
    }
}

void DownloadDialog::OnBrowse() {
    link_.Abort().store(true);  // first: a running download stops before its next datagram
    const std::wstring folder = settings_.DatFile();
    std::wstring file(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = L"Dat Files (*.zip)\0*.zip\0";
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.c_str();
    dialog.lpstrTitle = L"选择固件文件";
    // No must-exist check: a typed name is taken, and DownLoad says if it is missing.
    dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
    dialog.lpstrDefExt = L"zip";
    if (!GetOpenFileNameW(&dialog)) {
        return;
    }
    firmware_path_ = file.c_str();  // a full path: the dialog always gives one
    settings_.SetDatFile(FolderOf(firmware_path_));
    SetDlgItemTextW(window_, ID_FIRMWARE_PATH, firmware_path_.c_str());
}

void DownloadDialog::OnDownload() {
    const WaitCursor wait_cursor;
    firmware_path_ = WindowText(GetDlgItem(window_, ID_FIRMWARE_PATH));
    const std::wstring address_text = WindowText(GetDlgItem(window_, ID_ADDRESS));
    in_addr address{};
    (void)StartDownload(
        Utf8FromWide(firmware_path_),
        {.stop_previous = [this] { job_.StopBeforeNext(); },
         .check_devices =
             [&] {
                 const AddressCheck check = CheckDeviceAddress(Utf8FromWide(address_text));
                 if (check.refusal) {
                     ShowRefusal(window_, *check.refusal);
                 }
                 address = check.address;
                 return !check.refusal;
             },
         .save =
             [&] {
                 settings_.SetFileName(firmware_path_);
                 settings_.SetIp(address_text);
             },
         .refuse = [this](const DownloadRefusal& refusal,
                          std::optional<LoadStatus>) { ShowRefusal(window_, refusal); },
         .prime =
             [this](const PacketQueue& queue) {
                 // One step per acknowledged datagram, the end's included: the bar
                 // is full only once the device has accepted the whole image.
                 progress_bar_.SetRange(0, static_cast<int>(queue.size()));
                 progress_bar_.SetPos(0);
                 SetWindowTextW(progress_bar_.Window(),
                                WideFromUtf8(messages::DOWNLOADING).c_str());
             },
         .start =
             [&](std::shared_ptr<const PacketQueue> queue) {
                 if (!job_.Start(address, std::move(queue),
                                 settings_.Fast() ? DownloadPace::Fast : DownloadPace::Described)) {
                     OnDownloadDone(0);  // no thread for the job: nothing was sent
                 }
             }});
}

void DownloadDialog::OnPacketAcked() {
    (void)progress_bar_.StepIt();
}

void DownloadDialog::OnDownloadDone(WPARAM succeeded) {
    if (succeeded != 0) {
        SetWindowTextW(progress_bar_.Window(), WideFromUtf8(messages::DOWNLOAD_SUCCEEDED).c_str());
        return;
    }
    MessageBeep(0xFFFFFFFF);
    SetWindowTextW(progress_bar_.Window(), WideFromUtf8(messages::DOWNLOAD_FAILED).c_str());
}

}  // namespace korvane
