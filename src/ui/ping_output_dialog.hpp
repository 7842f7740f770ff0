#pragma once

#include <QDialog>
#include <QString>

namespace korvane {

// Shows what the ping program printed, literally and word-wrapped, in static
// control 1076 of a dialog captioned "Ping" with no buttons: Escape, Enter
// and the close box end it. Modal over the main window; GUI thread, for one
// run.
class PingOutputDialog final : public QDialog {
public:
    explicit PingOutputDialog(const QString& output_text, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace korvane
