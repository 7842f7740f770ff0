#pragma once

#include <windows.h>

#include <string>

namespace korvane {

// The desktop program on Windows: reads its command line, records the folder
// of its executable, runs the main dialog modally and ends when it closes.
// The title of every message box is the executable's base name. One per
// process, on the UI thread (the process's first), from main.
class DownloadApp {
public:
    // The program: --help, --version and a command line it cannot read are
    // answered in a message box; else the window. The process's exit code:
    // 0, or 2 for a bad command line.
    static int Main();
};

}  // namespace korvane
