// The main dialog's controls, as its template lays them out.
#include <QGroupBox>
#include <QLabel>

#include "ui/dialog_units.hpp"
#include "ui/download_dialog.hpp"

namespace korvane {
namespace {

enum class Kind { PushButton, Progress, GroupBox, Label, Edit };
enum class Shown { Always, Maintenance };

struct TemplateControl {
    const char* name;
    Kind kind;
    const char* caption;
    QRect units;  // x, y, width, height in dialog units
    Shown shown = Shown::Always;
};

// In template order, which is also the tab order. The parentheses of the
// restore button are full-width (U+FF08, U+FF09).
// clang-format off
const TemplateControl TEMPLATE[] = {
    {"2",                   Kind::PushButton, "Quit",                  {307, 247, 47, 20}},
    {"1000",                Kind::Progress,   "",                      {22, 26, 307, 19}},
    {"group-percentage",    Kind::GroupBox,   "Percentage",            {8, 9, 357, 48}},
    {"group-communication", Kind::GroupBox,   "Communication Setting", {8, 76, 357, 60}},
    {"label-ip",            Kind::Label,      "IP:",                   {19, 100, 37, 12}},
    {"group-file",          Kind::GroupBox,   "File",                  {7, 143, 357, 60}},
    {"1003",                Kind::Edit,       "",                      {17, 166, 269, 14}},
    {"1004",                Kind::PushButton, "DownLoad",              {307, 163, 47, 20}},
    {"1001",                Kind::Edit,       "",                      {63, 99, 131, 14}},
    {"1002",                Kind::PushButton, "...",                   {288, 165, 14, 14}},
    {"1005",                Kind::PushButton, "Ping...",               {199, 99, 37, 14}},
    {"1006",                Kind::PushButton, "还原MAC（Q7105）",      {261, 95, 65, 18}, Shown::Maintenance},
    {"label-machine-code",  Kind::Label,      "Machine Code:",         {15, 220, 53, 8}, Shown::Maintenance},
    {"1007",                Kind::Edit,       "",                      {70, 217, 216, 14}, Shown::Maintenance},
    {"1008",                Kind::PushButton, "Get",                   {290, 215, 56, 20}, Shown::Maintenance},
};
// clang-format on

constexpr QSize DIALOG_UNITS{372, 293};

QWidget* MakeControl(const TemplateControl& control, QWidget* parent) {
    const QString caption = QString::fromUtf8(control.caption);
    switch (control.kind) {
        case Kind::PushButton:
            return new QPushButton(caption, parent);
        case Kind::Progress:
            return new TextProgressBar(parent);
        case Kind::GroupBox:
            return new QGroupBox(caption, parent);
        case Kind::Label: {
            auto* label = new QLabel(caption, parent);
            label->setAlignment(Qt::AlignRight | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            return label;
        }
        case Kind::Edit:
            return new QLineEdit(parent);
    }
    return nullptr;
}

}  // namespace

void DownloadDialog::Layout(Controls controls) {
    setWindowTitle(QStringLiteral("DownLoad Firmware"));
    // A window of its own (with a task-bar entry), a close box and no
    // minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont(9));
    const DialogUnits units = DialogUnits::Of(font());
    setFixedSize(units.ToPixels(DIALOG_UNITS));

    // Children are parented to the dialog, which deletes them; made in
    // template order, so the focus chain follows the template.
    for (const TemplateControl& control : TEMPLATE) {
        QWidget* widget = MakeControl(control, this);
        widget->setObjectName(QString::fromLatin1(control.name));
        widget->setGeometry(units.ToPixels(control.units));
        if (control.kind == Kind::GroupBox) {
            widget->lower();  // frames lie behind the controls they frame
        }
        if (control.shown == Shown::Maintenance) {
            const bool shown = controls == Controls::Maintenance;
            widget->setVisible(shown);
            // The machine-code box is hidden but enabled; the buttons are disabled too.
            widget->setEnabled(shown || control.kind == Kind::Edit || control.kind == Kind::Label);
        }
        const int id = QString::fromLatin1(control.name).toInt();  // 0: no identifier
        switch (control.kind) {
            case Kind::PushButton:
                connect(static_cast<QPushButton*>(widget), &QPushButton::clicked, this,
                        [this, id] { OnCommand(id); });
                if (id == ID_QUIT) {
                    widget->setFocus();  // the first tab stop has the focus at start
                }
                break;
            case Kind::Progress:
                progress_bar_ = static_cast<TextProgressBar*>(widget);
                break;
            case Kind::Edit:
                (id == ID_ADDRESS         ? address_edit_
                 : id == ID_FIRMWARE_PATH ? path_edit_
                                          : machine_code_edit_) = static_cast<QLineEdit*>(widget);
                break;
            case Kind::GroupBox:
            case Kind::Label:
                break;
        }
    }
}

}  // namespace korvane
