#include "win/text_progress_bar.hpp"

#include <commctrl.h>

#include <algorithm>
#include <span>

#include "base/wide_text.hpp"
#include "frontend/progress_bar_text.hpp"
#include "win/gdi_objects.hpp"

namespace korvane {
namespace {

constexpr UINT_PTR kSubclassId = 1000;
constexpr UINT kTextFlags = DT_CENTER | DT_VCENTER | DT_SINGLELINE;

// FillSolidRect: an opaque text call with no text fills in the background colour.
void Fill(HDC dc, const RECT& rect, COLORREF colour) {
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

// Draws `text` centred in `client` but only where it falls into `part`. A clip
// region is in the image's own pixels, not in the client coordinates the
// image is drawn in, hence `origin` (the image's top left in the client).
void DrawTextPart(HDC dc, const std::wstring& text, RECT client, const RECT& part, POINT origin,
                  COLORREF colour) {
    const GdiObject<HRGN> region(CreateRectRgn(part.left - origin.x, part.top - origin.y,
                                               part.right - origin.x, part.bottom - origin.y));
    SelectClipRgn(dc, region.get());  // copies the region
    SetTextColor(dc, colour);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, kTextFlags);
}

}  // namespace

TextProgressBar::TextProgressBar()
    : bar_color_(GetSysColor(COLOR_HIGHLIGHT)),
      back_color_(GetSysColor(COLOR_WINDOW)),
      text_color_over_back_(GetSysColor(COLOR_HIGHLIGHT)),
      text_color_over_bar_(GetSysColor(COLOR_WINDOW)) {}

TextProgressBar::~TextProgressBar() {
    Detach();
}

bool TextProgressBar::Attach(HWND control) {
    Detach();
    if (IsWindow(control) == FALSE ||
        SetWindowSubclass(control, Procedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this)) ==
            FALSE) {
        return false;
    }
    window_ = control;
    return true;
}

void TextProgressBar::Detach() {
    if (window_ != nullptr && IsWindow(window_) != FALSE) {
        RemoveWindowSubclass(window_, Procedure, kSubclassId);
    }
    window_ = nullptr;
}

void TextProgressBar::SetRange(int lower, int upper) {
    minimum_ = lower;
    maximum_ = upper;
}

int TextProgressBar::SetPos(int position) {
    if (window_ == nullptr || IsWindow(window_) == FALSE) {
        return -1;
    }
    const int previous = position_;
    position_ = position;
    RECT client{};
    GetClientRect(window_, &client);
    const int width = BarPixels(client.right - client.left, position_, minimum_, maximum_);
    if (width != bar_width_) {
        bar_width_ = width;
        // Painted before returning, so each acknowledged step shows at once.
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    return previous;
}

int TextProgressBar::StepIt() {
    return SetPos(position_ + step_);
}

LRESULT CALLBACK TextProgressBar::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                            UINT_PTR /*id*/, DWORD_PTR self) {
    return reinterpret_cast<TextProgressBar*>(self)->OnMessage(window, message, wparam, lparam);
}

LRESULT TextProgressBar::OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;  // the paint covers every pixel; erasing first would flicker
        case WM_PAINT: {
            // Begun and ended even when nothing is drawn, or the requests never stop.
            const PaintScope paint(window);
            Paint(paint.Dc(), paint.Area());
            return 0;
        }
        case WM_PRINTCLIENT: {  // into the caller's DC, as far as its clipping reaches
            const auto dc = reinterpret_cast<HDC>(wparam);
            RECT client{};
            RECT clip{};
            GetClientRect(window, &client);
            if (GetClipBox(dc, &clip) != ERROR && IntersectRect(&clip, &clip, &client) != FALSE) {
                Paint(dc, clip);
            }
            return 0;
        }
        case WM_SIZE: {
            const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
            bar_width_ = -1;  // the next SetPos repaints even at an unchanged position
            return result;
        }
        case WM_SETTEXT:
            return OnSetText(window, wparam, lparam);
        case WM_GETTEXT:
            return OnGetText(wparam, lparam);
        case WM_NCDESTROY:
            Detach();
            return DefSubclassProc(window, message, wparam, lparam);
        default:
            return DefSubclassProc(window, message, wparam, lparam);
    }
}

LRESULT TextProgressBar::OnSetText(HWND window, WPARAM wparam, LPARAM lparam) {
    // The native window keeps the text too, so its text length stays the caption's.
    const LRESULT result = DefSubclassProc(window, WM_SETTEXT, wparam, lparam);
    const auto* text = reinterpret_cast<const wchar_t*>(lparam);
    if (text == nullptr) {
        if (!caption_.empty()) {
            caption_.clear();
            InvalidateRect(window, nullptr, TRUE);
        }
    } else if (caption_ != text) {
        caption_ = text;
        InvalidateRect(window, nullptr, TRUE);  // shows with the next paint, not at once
    }
    return result;
}

LRESULT TextProgressBar::OnGetText(WPARAM capacity, LPARAM buffer) const {
    if (buffer == 0 || capacity == 0) {
        return 0;
    }
    // The capacity counts the terminating zero; a longer caption is cut.
    const std::span out(reinterpret_cast<wchar_t*>(buffer), capacity);
    const std::size_t count = std::min(caption_.size(), out.size() - 1);
    std::copy_n(caption_.begin(), count, out.begin());
    out[count] = L'\0';
    return static_cast<LRESULT>(count);
}

void TextProgressBar::Paint(HDC target, const RECT& area) const {
    if (minimum_ >= maximum_) {
        return;  // an empty range draws nothing, not even the background
    }
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        return;
    }
    const MemoryDc image(CreateCompatibleDC(target));
    const GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(target, width, height));
    if (!image || !bitmap) {
        return;
    }
    const SelectedObject selected(image.get(), bitmap.get());
    HDC dc = image.get();
    SetViewportOrgEx(dc, -area.left, -area.top, nullptr);  // drawn in client coordinates

    RECT client{};
    GetClientRect(window_, &client);
    // A position outside the range moves the edge past either end; the fills
    // stop at the client area.
    const int client_width = client.right - client.left;
    const int bar_right =
        client.left +
        std::clamp(BarPixels(client_width, position_, minimum_, maximum_), 0, client_width);
    const RECT bar{client.left, client.top, bar_right, client.bottom};
    const RECT back{bar_right, client.top, client.right, client.bottom};
    Fill(dc, bar, bar_color_);
    Fill(dc, back, back_color_);
    if (show_text_) {
        const std::wstring text =
            WideFromUtf8(ProgressBarText(Utf8FromWide(caption_), position_, minimum_, maximum_));
        if (!text.empty()) {
            // No font is selected: the image's default font, not the dialog's.
            SetBkMode(dc, TRANSPARENT);
            const POINT origin{area.left, area.top};
            DrawTextPart(dc, text, client, bar, origin, text_color_over_bar_);
            DrawTextPart(dc, text, client, back, origin, text_color_over_back_);
            SelectClipRgn(dc, nullptr);
        }
    }
    BitBlt(target, area.left, area.top, width, height, dc, area.left, area.top, SRCCOPY);
}

}  // namespace korvane
