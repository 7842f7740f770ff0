#include "ui/plain_message.hpp"

#include <QApplication>
#include <QMessageBox>

namespace korvane {

void ShowPlainMessage(QWidget* parent, std::string_view text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok, parent);
    box.exec();
}

WaitCursor::WaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}
WaitCursor::~WaitCursor() {
    QApplication::restoreOverrideCursor();
}

}  // namespace korvane
