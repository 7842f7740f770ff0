#include "app/download_app.hpp"

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <cstdio>

#include "base/version.hpp"
#include "ui/download_dialog.hpp"
#include "ui/settings.hpp"

namespace korvane {
namespace {

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

}  // namespace

int DownloadApp::Main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const QString program =
        arguments.isEmpty() ? QStringLiteral("korvane") : QFileInfo(arguments[0]).fileName();
    const CommandLine line = ParseCommandLine(arguments);
    switch (line.action) {
        case CommandLine::Action::Help:
            Print(stdout, HelpText(program));
            return 0;
        case CommandLine::Action::Version:
            Print(stdout,
                  program + QLatin1Char(' ') + QString::fromUtf8(VERSION) + QLatin1Char('\n'));
            return 0;
        case CommandLine::Action::Refuse:
            Print(stderr, QStringLiteral("%1: %2 Try '%1 --help'.\n").arg(program, line.error));
            return 2;
        case CommandLine::Action::Run:
            break;
    }
    if (!CanOpenWindow(qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("DISPLAY"),
                       qEnvironmentVariable("WAYLAND_DISPLAY"))) {
        Print(stderr,
              program + QStringLiteral(": no display (neither DISPLAY nor WAYLAND_DISPLAY "
                                       "is set); use korvane-cli for a headless download\n"));
        return 1;
    }
    int toolkit_argc = argc > 0 ? 1 : 0;  // the toolkit sees only the name: options are read
    DownloadApp app(toolkit_argc, argv);
    return app.Run(line);
}

DownloadApp::DownloadApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationVersion(QString::fromUtf8(VERSION));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/korvane-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/korvane-16.png"), QSize(16, 16));
    setWindowIcon(icon);
}

int DownloadApp::Run(const CommandLine& line) {
    DownloadDialog dialog(Settings(DefaultBrowseFolder(applicationDirPath(), QDir::homePath())),
                          line.maintenance ? DownloadDialog::Controls::Maintenance
                                           : DownloadDialog::Controls::Operator,
                          {.address = line.address, .firmware_path = line.file});
    dialog.exec();
    return 0;
}

}  // namespace korvane
