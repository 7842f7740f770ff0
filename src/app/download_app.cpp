#include "app/download_app.hpp"

#include <QCommandLineParser>
#include <QIcon>

#include "app/settings.hpp"
#include "base/version.hpp"
#include "ui/download_dialog.hpp"

namespace korvane {

DownloadApp::DownloadApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationVersion(QString::fromUtf8(VERSION));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/korvane-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/korvane-16.png"), QSize(16, 16));
    setWindowIcon(icon);
}

int DownloadApp::Run() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Loads a firmware file into a network device over UDP (port 21818)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption maintenance(
        QStringLiteral("maintenance"),
        QStringLiteral("Show the service commands: restore the device's address, read its "
                       "machine code."));
    parser.addOption(maintenance);
    parser.process(*this);  // --help and --version print and end the process here

    program_folder_ = applicationDirPath();
    const Settings settings(program_folder_);
    DownloadDialog dialog(settings, parser.isSet(maintenance)
                                        ? DownloadDialog::Controls::Maintenance
                                        : DownloadDialog::Controls::Operator);
    dialog.exec();
    return 0;
}

}  // namespace korvane
