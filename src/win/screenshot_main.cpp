// korvane-screenshot.exe: renders the window for the documentation. It opens
// the main dialog with the address and firmware given, presses "DownLoad" and
// waits for the result, then opens the dialog with the service controls and
// presses "Get" for the device's machine code; the two windows are saved side by side in one 32-bit
// BMP (transparent between them). Used by scripts/screenshot-windows.sh (which provides the
// display, the device and the PNG); not installed.
// clang-format off
#include <windows.h>
#include <commctrl.h>  // after <windows.h>, which it needs
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/wide_text.hpp"
#include "frontend/program_arguments.hpp"
#include "win/download_dialog.hpp"
#include "win/gdi_objects.hpp"
#include "win/settings.hpp"
#include "win/window_text.hpp"
#include "win/window_wait.hpp"

namespace {

using korvane::DownloadDialog;

constexpr int GAP = 16;  // transparent pixels between the two windows
constexpr std::chrono::seconds PATIENCE{60};

// A window's picture, top row first, one 0xAARRGGBB word per pixel.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Handles the dialog's messages until `done` says so, or PATIENCE runs out.
bool PumpUntil(HWND dialog, const std::function<bool()>& done) {
    return korvane::PumpMessagesUntil(dialog, done, PATIENCE);
}

// Lets the window paint itself for a moment, so that what is copied is complete.
void Settle(HWND dialog) {
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    (void)PumpUntil(dialog, [&] { return std::chrono::steady_clock::now() > until; });
}

// Whether GDI knows a font family of this name.
bool HasFont(const wchar_t* face) {
    LOGFONTW font{};
    font.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    const HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(
        screen, &font,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found_flag) -> int {
            *reinterpret_cast<bool*>(found_flag) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The window as drawn: with its frame and caption bar when wine can draw the
// caption's buttons (their glyphs come from the font Marlett, which a wine
// without its own fonts lacks: letters would stand in), else its client area.
Picture Capture(HWND window) {
    const bool frame = HasFont(L"Marlett");
    RECT area{};
    if (frame) {
        SendMessageW(window, WM_NCACTIVATE, TRUE, 0);  // the caption as the operator sees it
        GetWindowRect(window, &area);
    } else {
        GetClientRect(window, &area);
    }
    Picture picture{area.right - area.left, area.bottom - area.top, {}};
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = picture.width;
    format.bmiHeader.biHeight = -picture.height;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC window_dc = frame ? GetWindowDC(window) : GetDC(window);
    const korvane::MemoryDc memory(CreateCompatibleDC(window_dc));
    const korvane::GdiObject<HBITMAP> bitmap(
        CreateDIBSection(window_dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    {
        const korvane::SelectedObject selected(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, picture.width, picture.height, window_dc, 0, 0, SRCCOPY);
        GdiFlush();
        const auto* source = static_cast<const std::uint32_t*>(bits);
        for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
            picture.pixels[i] = source[i] | 0xFF000000u;  // GDI leaves alpha 0: opaque
        }
    }
    ReleaseDC(window, window_dc);
    return picture;
}

// The pictures left to right, GAP apart, top-aligned, as a 32-bit BMP.
bool WriteSideBySide(const std::wstring& path, const std::vector<Picture>& pictures) {
    int width = 0;
    int height = 0;
    for (const Picture& picture : pictures) {
        width += (width == 0 ? 0 : GAP) + picture.width;
        height = std::max(height, picture.height);
    }
    std::vector<std::uint32_t> canvas(static_cast<std::size_t>(width) * height, 0);
    int left = 0;
    for (const Picture& picture : pictures) {
        for (int y = 0; y < picture.height; ++y) {
            std::copy_n(picture.pixels.begin() + static_cast<std::ptrdiff_t>(y) * picture.width,
                        picture.width,
                        canvas.begin() + static_cast<std::ptrdiff_t>(y) * width + left);
        }
        left += picture.width + GAP;
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    const DWORD data_size = static_cast<DWORD>(canvas.size() * sizeof(std::uint32_t));
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + data_size;
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    out.write(reinterpret_cast<const char*>(canvas.data()), data_size);
    return static_cast<bool>(out);
}

// Opens a dialog at the screen's top left, presses `command` in it, waits
// until `done`, and captures it.
bool Shoot(DownloadDialog& dialog, int command, const std::function<bool()>& done,
           std::vector<Picture>& pictures) {
    const HWND window = dialog.Create();
    if (window == nullptr) {
        return false;
    }
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    Settle(window);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
    if (!PumpUntil(window, done)) {
        return false;
    }
    Settle(window);
    pictures.push_back(Capture(window));
    return true;
}

}  // namespace

int main() {
    const korvane::Utf8Arguments arguments(0, nullptr);
    if (arguments.Count() != 4) {
        std::fprintf(stderr, "usage: korvane-screenshot OUT.bmp DEVICE_ADDRESS FIRMWARE\n");
        return 2;
    }
    const std::wstring out = korvane::WideFromUtf8(arguments.Values()[1]);
    const std::wstring address = korvane::WideFromUtf8(arguments.Values()[2]);
    const std::wstring firmware = korvane::WideFromUtf8(arguments.Values()[3]);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // Settings of its own beside the picture: the user's are neither read nor changed.
    const auto settings = [&] { return korvane::Settings(L".", out + L".ini"); };
    std::vector<Picture> pictures;

    {  // each dialog is closed before the next opens
        DownloadDialog download(settings(), DownloadDialog::Controls::Operator,
                                {address, firmware});
        const auto caption = [&] { return download.ProgressBar().Caption(); };
        if (!Shoot(
                download, korvane::ID_DOWNLOAD,
                [&] { return !caption().empty() && caption() != L"Downloading"; }, pictures) ||
            caption() != L"Succeed to download") {
            std::fprintf(stderr, "korvane-screenshot: the download ended with \"%s\"\n",
                         korvane::Utf8FromWide(caption()).c_str());
            return 1;
        }
    }
    DownloadDialog maintenance(settings(), DownloadDialog::Controls::Maintenance,
                               {address, firmware});
    const auto machine_code = [&] {
        return korvane::WindowText(GetDlgItem(maintenance.Window(), korvane::ID_MACHINE_CODE));
    };
    if (!Shoot(
            maintenance, korvane::ID_GET_MACHINE_CODE, [&] { return !machine_code().empty(); },
            pictures)) {
        std::fprintf(stderr, "korvane-screenshot: no machine code came\n");
        return 1;
    }
    return WriteSideBySide(out, pictures) ? 0 : 1;
}
