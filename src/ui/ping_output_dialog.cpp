#include "ui/ping_output_dialog.hpp"

#include <QKeyEvent>
#include <QLabel>

#include "ui/dialog_units.hpp"

namespace korvane {

PingOutputDialog::PingOutputDialog(const QString& output_text, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Ping"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont(10));
    const DialogUnits units = DialogUnits::Of(font());
    setFixedSize(units.ToPixels(QSize(287, 252)));
    auto* output = new QLabel(output_text, this);  // owned by the dialog
    output->setObjectName(QStringLiteral("1076"));
    output->setTextFormat(Qt::PlainText);  // an ampersand is shown as itself
    output->setWordWrap(true);
    output->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    output->setGeometry(units.ToPixels(QRect(7, 7, 273, 238)));
}

void PingOutputDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace korvane
