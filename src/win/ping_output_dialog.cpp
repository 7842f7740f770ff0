#include "win/ping_output_dialog.hpp"

#include "frontend/dialog_controls.hpp"
#include "win/window_text.hpp"

namespace korvane {

INT_PTR PingOutputDialog::DoModal(HWND owner) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(176), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK PingOutputDialog::DialogProc(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
    auto* self = reinterpret_cast<PingOutputDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(window, DWLP_USER, lparam);
            self = reinterpret_cast<PingOutputDialog*>(lparam);
            SetDlgItemTextW(window, ID_PING_OUTPUT, self->output_text_.c_str());
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK) {
                self->output_text_ = WindowText(GetDlgItem(window, ID_PING_OUTPUT));
            }
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(window, LOWORD(wparam));
                return TRUE;
            }
            return FALSE;
        case WM_SETCURSOR:
            return WaitCursor::Answer(window);
        default:
            return FALSE;
    }
}

}  // namespace korvane
