#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

namespace korvane {

// The main dialog's progress bar (control 1000). It keeps its own range,
// position and caption and paints the control entirely by itself: the bar in
// the highlight colour on the left, the rest in the base colour, and over
// both, centred on one line, the caption directly followed by the percentage
// ("Downloading33%"), drawn twice with clipping so that each part of a glyph
// contrasts with what lies beneath it. Lives as long as its dialog; GUI
// thread only.
class TextProgressBar final : public QFrame {
public:
    explicit TextProgressBar(QWidget* parent = nullptr);

    // No check, no repaint.
    void SetRange(int lower, int upper);
    // Stores the position and repaints at once, but only when the bar's width
    // in pixels changes. Returns the previous position; -1 (and changes
    // nothing) before the bar is shown in a window.
    int SetPos(int position);
    int StepIt();
    // A null text empties the caption; an unchanged caption repaints nothing;
    // a new one repaints when the window next paints.
    void SetCaption(const QString& caption);
    [[nodiscard]] QString Caption() const { return caption_; }

    [[nodiscard]] int Position() const { return position_; }
    [[nodiscard]] int Maximum() const { return maximum_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int position_ = 0;
    const int step_ = 1;
    int maximum_ = 100;
    int minimum_ = 0;
    QString caption_;
    const bool show_text_ = true;
    int bar_width_ = -1;
    // Read once, when the bar is made.
    const QColor bar_color_;
    const QColor back_color_;
    const QColor text_color_over_back_;
    const QColor text_color_over_bar_;
};

}  // namespace korvane
