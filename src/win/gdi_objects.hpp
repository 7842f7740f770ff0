#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace korvane {

// Owners for the GDI handles of one paint, released in reverse order of
// making when the scope ends. UI thread only, like the DCs they draw on.

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
// A bitmap, region, brush ... (HBITMAP, HRGN, HBRUSH) that DeleteObject ends.
template <typename Handle>
using GdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, GdiObjectDeleter>;

struct MemoryDcDeleter {
    void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
// A DC of CreateCompatibleDC.
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

// An object selected into a DC for one scope; the one it replaced goes back
// in at the end, so the object can then be deleted.
class SelectedObject final {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() { SelectObject(dc_, previous_); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// One paint request of a window (WM_PAINT), begun and ended.
class PaintScope final {
public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    [[nodiscard]] HDC Dc() const { return dc_; }
    // What is to be repainted, in client coordinates.
    [[nodiscard]] const RECT& Area() const { return paint_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

}  // namespace korvane
