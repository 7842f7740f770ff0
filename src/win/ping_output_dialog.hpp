#pragma once

#include <windows.h>

#include <string>

namespace korvane {

// What a ping printed, in dialog template 176: the text in static control
// 1076, no buttons; the close box and Escape end it (Cancel), Enter too after
// reading the control back into OutputText (OK). Made, run and destroyed on
// the UI thread by the ping command; it keeps nothing afterwards.
class PingOutputDialog {
public:
    explicit PingOutputDialog(std::wstring text) : output_text_(std::move(text)) {}

    // Runs the dialog modally, owned by `owner`; the result is the ending command.
    INT_PTR DoModal(HWND owner);

    [[nodiscard]] const std::wstring& OutputText() const noexcept { return output_text_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    std::wstring output_text_;
};

}  // namespace korvane
