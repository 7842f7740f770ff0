#pragma once

#include <windows.h>

#include <string>

namespace korvane {

// The main dialog's progress bar. It takes over the dialog's progress control
// (1000) by subclassing it and paints that control entirely by itself: the
// bar in the selection colour on the left, the rest in the window colour,
// and over both, centred on one line, the caption directly followed by the
// percentage ("Downloading33%"), drawn twice with clipping so that each part
// of a glyph contrasts with what lies beneath it. It keeps range and position
// itself: the native control never learns them and never paints.
//
// Made with the dialog, before any window exists (the colours are read then,
// once); attached to the control when the dialog has made it; it lets go of
// the control when the control is destroyed or the bar is, whichever comes
// first. UI thread only (the thread of the control).
class TextProgressBar final {
public:
    TextProgressBar();
    ~TextProgressBar();
    TextProgressBar(const TextProgressBar&) = delete;
    TextProgressBar& operator=(const TextProgressBar&) = delete;

    // Takes over `control` (a progress control); false when it is no window.
    bool Attach(HWND control);

    // No check, no repaint.
    void SetRange(int lower, int upper);
    // Stores the position and repaints at once (before returning), but only
    // when the bar's width in pixels changes. Returns the previous position;
    // -1, changing nothing, while the bar has no window.
    int SetPos(int position);
    int StepIt();

    // The control; its window text is the caption (set it with SetWindowTextW).
    [[nodiscard]] HWND Window() const { return window_; }
    [[nodiscard]] int Position() const { return position_; }
    [[nodiscard]] int Minimum() const { return minimum_; }
    [[nodiscard]] int Maximum() const { return maximum_; }
    [[nodiscard]] const std::wstring& Caption() const { return caption_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR id, DWORD_PTR self);
    LRESULT OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnSetText(HWND window, WPARAM wparam, LPARAM lparam);
    [[nodiscard]] LRESULT OnGetText(WPARAM capacity, LPARAM buffer) const;
    // Composes `area` (client coordinates) off-screen and copies it to `target`.
    void Paint(HDC target, const RECT& area) const;
    void Detach();

    HWND window_ = nullptr;
    int position_ = 0;
    const int step_ = 1;
    int maximum_ = 100;
    int minimum_ = 0;
    std::wstring caption_;
    const bool show_text_ = true;
    int bar_width_ = -1;  // pixels at the last SetPos; -1 before the first and after a resize
    const COLORREF bar_color_;
    const COLORREF back_color_;
    const COLORREF text_color_over_back_;
    const COLORREF text_color_over_bar_;
};

}  // namespace korvane
