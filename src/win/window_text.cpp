#include "win/window_text.hpp"

#include <filesystem>

#include "base/wide_text.hpp"

namespace korvane {
namespace {

int wait_cursors = 0;  // UI thread only

}  // namespace

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ModulePath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

std::wstring ProgramTitle() {
    return std::filesystem::path(ModulePath()).stem().wstring();
}

void ShowPlainMessage(HWND owner, std::string_view text) {
    MessageBoxW(owner, WideFromUtf8(text).c_str(), ProgramTitle().c_str(), MB_OK);
}

WaitCursor::WaitCursor() {
    ++wait_cursors;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

WaitCursor::~WaitCursor() {
    --wait_cursors;
    POINT point{};
    GetCursorPos(&point);
    SetCursorPos(point.x, point.y);  // the window under it sets its own cursor again
}

BOOL WaitCursor::Answer(HWND dialog) noexcept {
    if (wait_cursors == 0) {
        return FALSE;
    }
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

}  // namespace korvane
