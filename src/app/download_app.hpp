#pragma once

#include <QApplication>
#include <QString>

#include "app/command_line.hpp"

namespace korvane {

// The desktop program: runs the main dialog modally; the program ends when
// the dialog closes. The application's name, and so the title of every
// message box, is the executable's base name. One per process, on the GUI thread, made by Main
// once the command line asks for the window and a display is there.
class DownloadApp final : public QApplication {
public:
    // The program: reads the command line before anything needs a display
    // (--help, --version and a bad command line work without one), says so
    // in one line when there is no display, else runs the window. The
    // process's exit code: 0, 1 without a display, 2 for a bad command line.
    static int Main(int argc, char** argv);

private:
    DownloadApp(int& argc, char** argv);
    int Run(const CommandLine& line);
};

}  // namespace korvane
