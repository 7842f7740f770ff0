#include "win/text_progress_bar.hpp"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <tuple>
#include <vector>

#include "frontend/progress_bar_text.hpp"
#include "win/gdi_objects.hpp"

// The bar on the progress control of dialog 102, rendered into a bitmap
// (WM_PRINTCLIENT) and read back pixel by pixel; repaints counted by a second
// subclass on top of the bar's.
namespace korvane {
namespace {

using namespace std::string_view_literals;

// A pixel of a 32-bit DIB (0x00RRGGBB) in a colour no paint uses.
constexpr DWORD kUntouched = 0x010203;

DWORD Pixel(COLORREF colour) {
    return GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
}

LRESULT CALLBACK CountPaints(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                             DWORD_PTR count) {
    *reinterpret_cast<int*>(count) += message == WM_PAINT ? 1 : 0;
    return DefSubclassProc(window, message, wparam, lparam);
}

class TextProgressBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&classes));
        EXPECT_EQ(bar_.SetPos(3), -1);  // no window yet
        EXPECT_EQ(bar_.Position(), 0);
        dialog_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(102), nullptr,
                                     nullptr, 0);
        ASSERT_TRUE(bar_.Attach(GetDlgItem(dialog_, 1000)));
        SetWindowSubclass(bar_.Window(), CountPaints, 1, reinterpret_cast<DWORD_PTR>(&paints_));
        GetClientRect(bar_.Window(), &client_);
        UpdateWindow(bar_.Window());
        paints_ = 0;
    }
    void TearDown() override {
        DestroyWindow(dialog_);
        EXPECT_EQ(bar_.SetPos(1), -1);  // the control is gone, the bar lets go of it
    }
    // The client area as WM_PRINTCLIENT paints it over kUntouched, row by row,
    // in all of it or only from column `from` on.
    std::vector<DWORD> Render(int from = 0) const {
        const int width = client_.right;
        const int height = client_.bottom;
        BITMAPINFO info{};
        info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        const MemoryDc dc(CreateCompatibleDC(nullptr));
        const GdiObject<HBITMAP> bitmap(
            CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        const SelectedObject selected(dc.get(), bitmap.get());
        IntersectClipRect(dc.get(), from, 0, width, height);
        const std::span pixels(static_cast<DWORD*>(bits), std::size_t(width) * height);
        std::ranges::fill(pixels, kUntouched);
        SendMessageW(bar_.Window(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT);
        GdiFlush();
        return {pixels.begin(), pixels.end()};
    }

    TextProgressBar bar_;  // made before the dialog, as the dialog makes it
    HWND dialog_ = nullptr;
    RECT client_{};
    int paints_ = 0;
};

TEST_F(TextProgressBarTest, FillSplitsAtThePixelAndTheTextChangesColourThere) {
    const DWORD highlight = Pixel(GetSysColor(COLOR_HIGHLIGHT));
    const DWORD window = Pixel(GetSysColor(COLOR_WINDOW));
    ASSERT_NE(highlight, window);
    const int width = client_.right;
    EXPECT_EQ(Render(),
              std::vector<DWORD>(std::size_t(width) * client_.bottom, window));  // as made
    // minimum, maximum, position, caption -> text over the bar, text over the rest
    const std::vector<std::tuple<int, int, int, const wchar_t*, bool, bool>> rows = {
        {0, 9, 0, L"Downloading", false, true},
        {0, 9, 4, L"Downloading", true, true},    // 44%: the edge runs through the text
        {0, 9, 10, L"Downloading", true, false},  // past the end: all bar, "Downloading100%"
        {0, 200, 1, L"", false, false},           // 0%: no text
        {0, 100, 50, L"", true, true},            // "50%" astride the middle
        {5, 5, 5, L"Downloading", false, false},  // empty range: nothing drawn at all
        {9, 0, 5, L"Downloading", false, false},
    };
    for (const auto& [minimum, maximum, position, caption, text_over_bar, text_over_back] : rows) {
        SCOPED_TRACE(testing::Message() << position << " in " << minimum << ".." << maximum);
        bar_.SetRange(minimum, maximum);
        SetWindowTextW(bar_.Window(), caption);
        bar_.SetPos(position);
        const std::vector<DWORD> image = Render();
        const int from = width / 3 + 7;  // a part, composed alone, is the same part of the whole
        const std::vector<DWORD> part = Render(from);
        const bool drawn = minimum < maximum;
        const int split = std::clamp(BarPixels(width, position, minimum, maximum), 0, width);
        bool over_bar = false, over_back = false;
        for (std::size_t i = 0; i < image.size(); ++i) {
            const int x = static_cast<int>(i) % width;
            const bool in_bar = x < split;
            ASSERT_EQ(part[i], x < from ? kUntouched : image[i]) << i;
            if (!drawn) {
                ASSERT_EQ(image[i], kUntouched) << i;
            } else if (i < static_cast<std::size_t>(width)) {  // the top row has no text
                ASSERT_EQ(image[i], in_bar ? highlight : window) << i;
            }
            over_bar |= in_bar && image[i] == window;
            over_back |= !in_bar && drawn && image[i] == highlight;
        }
        EXPECT_EQ(over_bar, text_over_bar);
        EXPECT_EQ(over_back, text_over_back);
    }
}

TEST_F(TextProgressBarTest, RepaintsOnlyWhenTheBarGrowsByAPixel) {
    const int width = client_.right;
    bar_.SetRange(0, 4 * width);  // four positions to a pixel
    for (const auto& [position, previous, paints] :
         std::vector<std::array<int, 3>>{{1, 0, 1}, {3, 1, 1}, {4, 3, 2}, {7, 4, 2}}) {
        EXPECT_EQ(bar_.SetPos(position), previous);
        EXPECT_EQ(bar_.Position(), position);
        EXPECT_EQ(paints_, paints) << position;  // at once: no message is pumped here
    }
    EXPECT_EQ(bar_.StepIt(), 7);  // 8: two pixels
    EXPECT_EQ(paints_, 3);
    // One pixel wider: still two pixels, but a resize forgets the width.
    RECT frame{};
    GetWindowRect(bar_.Window(), &frame);
    SetWindowPos(bar_.Window(), nullptr, 0, 0, frame.right - frame.left + 1,
                 frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(bar_.Window());
    paints_ = 0;
    EXPECT_EQ(bar_.SetPos(8), 8);
    EXPECT_EQ(bar_.SetPos(8), 8);
    EXPECT_EQ(paints_, 1);
}

TEST_F(TextProgressBarTest, CaptionIsTheWindowText) {
    const wchar_t* const failed = L"Failed to download";
    // new text (null or not) -> caption, whether the control is to be repainted
    const std::vector<std::tuple<const wchar_t*, const wchar_t*, bool>> sets = {
        {failed, failed, true},
        {failed, failed, false},
        {nullptr, L"", true},
        {nullptr, L"", false}};
    for (const auto& [text, caption, invalidated] : sets) {
        ValidateRect(bar_.Window(), nullptr);
        EXPECT_TRUE(SendMessageW(bar_.Window(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
        EXPECT_EQ(bar_.Caption(), caption);
        EXPECT_EQ(GetUpdateRect(bar_.Window(), nullptr, FALSE) != FALSE, invalidated) << caption;
        EXPECT_EQ(GetWindowTextLengthW(bar_.Window()), static_cast<int>(bar_.Caption().size()));
    }
    SetWindowTextW(bar_.Window(), L"Succeed to download");  // 19 characters
    // capacity -> characters copied, and the buffer's first copied + 1 characters
    const std::vector<std::tuple<int, int, std::wstring_view>> reads = {
        {20, 19, L"Succeed to download\0"sv},
        {19, 18, L"Succeed to downloa\0"sv},
        {1, 0, L"\0"sv},
        {0, 0, L"#"sv}};
    for (const auto& [capacity, copied, text] : reads) {
        std::array<wchar_t, 32> buffer{};
        buffer.fill(L'#');
        const auto at = reinterpret_cast<LPARAM>(buffer.data());
        EXPECT_EQ(SendMessageW(bar_.Window(), WM_GETTEXT, capacity, at), copied);
        EXPECT_EQ(std::wstring_view(buffer.data(), copied + 1), text);
    }
    EXPECT_EQ(SendMessageW(bar_.Window(), WM_GETTEXT, 32, 0), 0);  // no buffer
}

}  // namespace
}  // namespace korvane
