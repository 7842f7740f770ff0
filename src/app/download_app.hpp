#pragma once

#include <QApplication>
#include <QString>

namespace korvane {

// The desktop program: reads its command line (--maintenance, --help,
// --version), records the folder that holds the executable and runs the main
// dialog modally; the program ends when the dialog closes. The application's
// name, and so the title of every message box, is the executable's base name.
// One per process, on the GUI thread, for the life of main().
class DownloadApp final : public QApplication {
public:
    DownloadApp(int& argc, char** argv);

    // Runs the program; the process's exit code.
    int Run();

    // The executable's folder without a trailing separator ("/" for the root).
    [[nodiscard]] const QString& ProgramFolder() const { return program_folder_; }

private:
    QString program_folder_;
};

}  // namespace korvane
