#pragma once

#include <QWidget>
#include <string_view>

namespace korvane {

// A message box as the program shows every message: the text, no icon, one
// OK button, the program's name as title. Modal; returns when it is closed.
void ShowPlainMessage(QWidget* parent, std::string_view text);

// Shows the wait cursor for the life of the object (GUI thread).
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace korvane
