#pragma once

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "ui/download_dialog.hpp"
#include "ui/settings.hpp"

namespace korvane::testing {

// A settings folder of its own for one test (XDG_CONFIG_HOME), removed after.
class ConfigHome {
public:
    ConfigHome() { qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8()); }

private:
    QTemporaryDir dir_;
};

// Runs `action` and closes every modal window it opens: a message box with
// OK, anything else (a file dialog) with `other`, or rejected when none is
// given. Returns what the boxes said, in order; a box that is not plain (an
// icon, more than an OK button, another title) is told as "NOT PLAIN: text".
inline QStringList CloseModals(const std::function<void()>& action,
                               const std::function<void(QWidget&)>& other = {}) {
    QStringList said;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            const bool plain = box->icon() == QMessageBox::NoIcon &&
                               box->standardButtons() == QMessageBox::Ok &&
                               box->windowTitle() == QApplication::applicationName();
            said << (plain ? QString() : QStringLiteral("NOT PLAIN: ")) + box->text();
            box->button(QMessageBox::Ok)->click();
        } else if (modal != nullptr) {
            other ? other(*modal) : static_cast<QDialog*>(modal)->reject();
        }
    });
    timer.start();
    action();
    return said;
}

// The main dialog as the program makes it, with typed address and path.
inline std::unique_ptr<DownloadDialog> MakeDialog(
    const QString& address = {}, const QString& path = {},
    DownloadDialog::Controls controls = DownloadDialog::Controls::Operator,
    const DownloadDialog::StartValues& start = {}) {
    auto dialog = std::make_unique<DownloadDialog>(Settings(QDir::tempPath()), controls, start);
    if (!address.isNull()) {
        dialog->findChild<QLineEdit*>(QStringLiteral("1001"))->setText(address);
    }
    if (!path.isNull()) {
        dialog->findChild<QLineEdit*>(QStringLiteral("1003"))->setText(path);
    }
    return dialog;
}

}  // namespace korvane::testing
