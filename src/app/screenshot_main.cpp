// korvane-screenshot: renders the window for the documentation. It fills in
// the address and firmware, presses "DownLoad", waits for the result and
// saves the window, then presses "Ping..." and saves the ping output dialog.
// Used by scripts/screenshot.sh (which provides the display and the device);
// not installed.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

#include "ui/download_dialog.hpp"
#include "ui/settings.hpp"

using korvane::DownloadDialog;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvane"));
    if (argc != 4) {
        std::fprintf(stderr, "usage: korvane-screenshot OUT_DIR DEVICE_ADDRESS FIRMWARE\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    DownloadDialog dialog(korvane::Settings(QApplication::applicationDirPath()),
                          DownloadDialog::Controls::Operator);
    dialog.findChild<QLineEdit*>(QStringLiteral("1001"))->setText(QString::fromLocal8Bit(argv[2]));
    dialog.findChild<QLineEdit*>(QStringLiteral("1003"))->setText(QString::fromLocal8Bit(argv[3]));
    dialog.show();

    int status = 1;
    QTimer::singleShot(300, [&] { dialog.OnCommand(korvane::ID_DOWNLOAD); });
    QTimer poll;
    QTimer ping_poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QString caption = dialog.ProgressBar().Caption();
        if (caption == QStringLiteral("Downloading") || caption.isEmpty()) {
            return;
        }
        poll.stop();
        dialog.grab().save(out + QStringLiteral("/screenshot.png"));
        if (caption != QStringLiteral("Succeed to download")) {
            std::fprintf(stderr, "korvane-screenshot: the download ended with \"%s\"\n",
                         qPrintable(caption));
            QApplication::exit(1);
            return;
        }
        // The ping's output dialog is modal: save and close it from its own loop.
        QObject::connect(&ping_poll, &QTimer::timeout, [&] {
            QWidget* ping = QApplication::activeModalWidget();
            if (ping != nullptr && ping->windowTitle() == QStringLiteral("Ping")) {
                ping_poll.stop();
                ping->grab().save(out + QStringLiteral("/ping.png"));
                ping->close();
                status = 0;
            }
        });
        ping_poll.start(100);
        QTimer::singleShot(0, [&] {
            dialog.findChild<QLineEdit*>(QStringLiteral("1001"))
                ->setText(QStringLiteral("127.0.0.1"));
            dialog.OnCommand(korvane::ID_PING);
            QApplication::exit(status);
        });
    });
    poll.start(100);
    return QApplication::exec();
}
