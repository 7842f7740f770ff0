#include "ui/text_progress_bar.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>

#include "frontend/progress_bar_text.hpp"

namespace korvane {

TextProgressBar::TextProgressBar(QWidget* parent)
    : QFrame(parent),
      bar_color_(palette().color(QPalette::Highlight)),
      back_color_(palette().color(QPalette::Base)),
      text_color_over_back_(palette().color(QPalette::Highlight)),
      text_color_over_bar_(palette().color(QPalette::Base)) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
}

void TextProgressBar::SetRange(int lower, int upper) {
    minimum_ = lower;
    maximum_ = upper;
}

int TextProgressBar::SetPos(int position) {
    // The bar has no window of its own until it has been shown once; until
    // then a position would go nowhere.
    if (!testAttribute(Qt::WA_WState_Created)) {
        return -1;
    }
    const int previous = position_;
    position_ = position;
    const int width = BarPixels(contentsRect().width(), position_, minimum_, maximum_);
    if (width != bar_width_) {
        bar_width_ = width;
        repaint();  // before returning, so each acknowledged step shows at once
    }
    return previous;
}

int TextProgressBar::StepIt() {
    return SetPos(position_ + step_);
}

void TextProgressBar::SetCaption(const QString& caption) {
    if (caption.isNull()) {
        if (!caption_.isEmpty()) {
            caption_.clear();
            update();
        }
        return;
    }
    if (caption == caption_) {
        return;
    }
    caption_ = caption;
    update();
}

void TextProgressBar::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);  // the border, which lies outside the client area
    if (minimum_ >= maximum_) {
        return;
    }
    // No off-screen image of our own: Qt composes every paint in the window's
    // backing store and shows it in one go, so partial fills never flicker.
    const QRect client = contentsRect();
    const int left = client.x();
    const int right = client.x() + client.width();
    const int bar_right = left + BarPixels(client.width(), position_, minimum_, maximum_);
    // A position outside the range moves the edge past either end; the fills
    // stop at the client area so the border stays intact.
    const int edge = std::clamp(bar_right, left, right);
    const QRect bar_rect(left, client.y(), edge - left, client.height());
    const QRect back_rect(edge, client.y(), right - edge, client.height());

    QPainter painter(this);
    painter.fillRect(bar_rect, bar_color_);
    painter.fillRect(back_rect, back_color_);
    if (!show_text_) {
        return;
    }
    const QString text = QString::fromStdString(
        ProgressBarText(caption_.toStdString(), position_, minimum_, maximum_));
    if (text.isEmpty()) {
        return;
    }
    // The application's font, not the widget's (which follows the dialog).
    painter.setFont(QGuiApplication::font());
    constexpr int kFlags = Qt::AlignCenter | Qt::TextSingleLine;
    painter.setClipRect(bar_rect);
    painter.setPen(text_color_over_bar_);
    painter.drawText(client, kFlags, text);
    painter.setClipRect(back_rect);
    painter.setPen(text_color_over_back_);
    painter.drawText(client, kFlags, text);
}

void TextProgressBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    bar_width_ = -1;  // the next SetPos repaints even at an unchanged position
}

}  // namespace korvane
