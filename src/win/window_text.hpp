#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace korvane {

// The whole text of a window or control, as UTF-16 (empty for no window).
[[nodiscard]] std::wstring WindowText(HWND window);

// The full path of the running executable (any length, not only MAX_PATH's).
[[nodiscard]] std::wstring ModulePath();

// The folder part of a full path, without the last backslash (D:\Tools\korvane.exe
// gives D:\Tools, D:\korvane.exe gives D:); a path without one is kept whole.
[[nodiscard]] std::wstring FolderOf(const std::wstring& path);

// The program's title, as every message box bears it: the executable's base
// name without its extension ("korvane").
[[nodiscard]] std::wstring ProgramTitle();

// A message box as the program shows every message: the UTF-8 text, no icon,
// one OK button, the program's title. Modal; returns when it has been closed.
void ShowPlainMessage(HWND owner, std::string_view text);

// Shows the wait cursor over the program's windows for the life of the object
// (UI thread). The dialogs answer WM_SETCURSOR with WaitCursor::Answer().
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    // A dialog procedure's answer to WM_SETCURSOR: TRUE with the wait cursor set
    // while one is shown, else FALSE (the cursor the window would have).
    [[nodiscard]] static BOOL Answer(HWND dialog) noexcept;
};

}  // namespace korvane
