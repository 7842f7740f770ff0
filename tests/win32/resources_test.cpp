#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/wide_text.hpp"

// The window's resources as the executable carries them (src/win/korvane.rc
// is linked into this test): every control of dialogs 102 and 176 with its
// id, class, caption, rectangle and style, in template order, and the version
// information. Read back from the compiled templates, not from the .rc text.
namespace korvane {
namespace {

// Reads a compiled dialog template, field by field, in its byte order.
class TemplateReader {
public:
    explicit TemplateReader(const std::uint8_t* at) : at_(at) {}
    template <typename T>
    T Next() {
        T value{};
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A name or an ordinal (0xFFFF, then the number): the standard classes
    // as their names, an absent one as "".
    std::string NameOrOrdinal() {
        if (Peek() == 0xFFFF) {
            (void)Next<std::uint16_t>();
            switch (const auto ordinal = Next<std::uint16_t>()) {
                case 0x80:
                    return "button";
                case 0x81:
                    return "edit";
                case 0x82:
                    return "static";
                default:
                    return "#" + std::to_string(ordinal);
            }
        }
        std::wstring text;
        for (wchar_t c = 0; (c = static_cast<wchar_t>(Next<std::uint16_t>())) != 0;) {
            text += c;
        }
        return Utf8FromWide(text);
    }
    // A class name: Windows compares them without case.
    std::string ClassName() {
        std::string name = NameOrOrdinal();
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return name;
    }
    void AlignTo4(const std::uint8_t* base) {
        while ((at_ - base) % 4 != 0) {
            ++at_;
        }
    }

private:
    std::uint16_t Peek() const {
        std::uint16_t value = 0;
        std::memcpy(&value, at_, sizeof value);
        return value;
    }
    const std::uint8_t* at_;
};

std::string Hex(std::uint32_t value) {
    char text[11] = {};
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// "caption | style | exstyle | x,y,w,h | font", then one line per control:
// "id class "caption" x,y,w,h style".
std::vector<std::string> DescribeDialog(int id) {
    const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    if (found == nullptr) {
        return {"dialog " + std::to_string(id) + " not found"};
    }
    const auto* base =
        static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
    TemplateReader in(base);
    const bool extended = in.Next<std::uint16_t>() == 1 && in.Next<std::uint16_t>() == 0xFFFF;
    if (!extended) {
        in = TemplateReader(base);
    }
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    if (extended) {
        (void)in.Next<std::uint32_t>();  // help id
        ex_style = in.Next<std::uint32_t>();
        style = in.Next<std::uint32_t>();
    } else {
        style = in.Next<std::uint32_t>();
        ex_style = in.Next<std::uint32_t>();
    }
    const auto count = in.Next<std::uint16_t>();
    std::string head;
    for (int i = 0; i < 4; ++i) {
        head += std::to_string(in.Next<std::int16_t>()) + (i < 3 ? "," : "");
    }
    const std::string menu = in.NameOrOrdinal();
    const std::string window_class = in.NameOrOrdinal();
    const std::string caption = in.NameOrOrdinal();
    std::string font = std::to_string(in.Next<std::uint16_t>()) + " pt";
    if (extended) {
        font += " weight " + std::to_string(in.Next<std::uint16_t>());
        font += " italic " + std::to_string(in.Next<std::uint8_t>());
        font += " charset " + std::to_string(in.Next<std::uint8_t>());
    }
    font += " " + in.NameOrOrdinal();
    std::vector<std::string> lines = {caption + " | " + Hex(style) + " | " + Hex(ex_style) + " | " +
                                      head + " | " + font + menu + window_class};
    for (int i = 0; i < count; ++i) {
        in.AlignTo4(base);
        std::uint32_t control_style = 0;
        std::uint32_t control_ex = 0;
        if (extended) {
            (void)in.Next<std::uint32_t>();  // help id
            control_ex = in.Next<std::uint32_t>();
            control_style = in.Next<std::uint32_t>();
        } else {
            control_style = in.Next<std::uint32_t>();
            control_ex = in.Next<std::uint32_t>();
        }
        std::string rect;
        for (int j = 0; j < 4; ++j) {
            rect += std::to_string(in.Next<std::int16_t>()) + (j < 3 ? "," : "");
        }
        const int control_id = extended ? static_cast<int>(in.Next<std::int32_t>())
                                        : static_cast<std::int16_t>(in.Next<std::uint16_t>());
        const std::string control_class = in.ClassName();
        const std::string text = in.NameOrOrdinal();
        const auto extra = in.Next<std::uint16_t>();
        lines.push_back(std::to_string(control_id) + " " + control_class + " \"" + text + "\" " +
                        rect + " " + Hex(control_style) +
                        (control_ex != 0 || extra != 0 ? " (extended style or extra data)" : ""));
    }
    return lines;
}

TEST(Resources, DialogsHoldEveryControlAsTheTemplatesGiveThem) {
    // clang-format off
    EXPECT_EQ(DescribeDialog(102), (std::vector<std::string>{
        "DownLoad Firmware | 0x90C800C0 | 0x00040000 | 0,0,372,293 | 9 pt weight 0 italic 0 charset 1 宋体",
        "2 button \"Quit\" 307,247,47,20 0x50010000",
        "1000 msctls_progress32 \"\" 22,26,307,19 0x50800000",
        "-1 button \"Percentage\" 8,9,357,48 0x50000007",
        "-1 button \"Communication Setting\" 8,76,357,60 0x50000007",
        "-1 static \"IP:\" 19,100,37,12 0x50020002",
        "-1 button \"File\" 7,143,357,60 0x50000007",
        "1003 edit \"\" 17,166,269,14 0x50810080",
        "1004 button \"DownLoad\" 307,163,47,20 0x50010000",
        "1001 edit \"\" 63,99,131,14 0x50810080",
        "1002 button \"...\" 288,165,14,14 0x50010000",
        "1005 button \"Ping...\" 199,99,37,14 0x50010000",
        "1006 button \"还原MAC（Q7105）\" 261,95,65,18 0x48010000",
        "-1 static \"Machine Code:\" 15,220,53,8 0x40020002",
        "1007 edit \"\" 70,217,216,14 0x40810080",
        "1008 button \"Get\" 290,215,56,20 0x48010000",
    }));
    EXPECT_EQ(DescribeDialog(176), (std::vector<std::string>{
        "Ping | 0x80C800C0 | 0x00000000 | 0,0,287,252 | 10 pt 宋体",
        "1076 static \"\" 7,7,273,238 0x50020000",
    }));
    // clang-format on
}

// Icon group 128: 32 x 32 and 16 x 16 in 16 colours; every resource in the
// language Chinese (PRC).
TEST(Resources, IconGroupHasTwoSixteenColourImages) {
    constexpr WORD CHINESE_PRC = 0x0804;
    const HRSRC group =
        ::FindResourceExW(nullptr, MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(128), CHINESE_PRC);
    ASSERT_NE(group, nullptr);
    TemplateReader in(
        static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, group))));
    EXPECT_EQ(in.Next<std::uint16_t>(), 0);  // reserved
    EXPECT_EQ(in.Next<std::uint16_t>(), 1);  // icons
    const auto count = in.Next<std::uint16_t>();
    std::vector<std::string> images;
    for (int i = 0; i < count; ++i) {
        const auto width = in.Next<std::uint8_t>();
        const auto height = in.Next<std::uint8_t>();
        const auto colours = in.Next<std::uint8_t>();
        (void)in.Next<std::uint8_t>();
        (void)in.Next<std::uint16_t>();  // planes
        const auto bits = in.Next<std::uint16_t>();
        (void)in.Next<std::uint32_t>();  // size
        (void)in.Next<std::uint16_t>();  // id
        images.push_back(std::to_string(width) + "x" + std::to_string(height) + " " +
                         std::to_string(colours) + " colours " + std::to_string(bits) + " bpp");
    }
    EXPECT_EQ(images,
              (std::vector<std::string>{"32x32 16 colours 4 bpp", "16x16 16 colours 4 bpp"}));
    for (const int dialog : {102, 176}) {
        EXPECT_NE(
            ::FindResourceExW(nullptr, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(dialog), CHINESE_PRC),
            nullptr);
    }
}

TEST(Resources, VersionInformationNamesTheProgramInChinese) {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    std::vector<std::uint8_t> block(::GetFileVersionInfoSizeW(path.c_str(), nullptr));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(
        ::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(std::vector<DWORD>({fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                  fixed->dwProductVersionMS, fixed->dwProductVersionLS,
                                  fixed->dwFileFlagsMask, fixed->dwFileFlags, fixed->dwFileOS,
                                  fixed->dwFileType, fixed->dwFileSubtype}),
              std::vector<DWORD>({0x10000, 0x1, 0x10000, 0x1, 0x3F, 0, 4, 1, 0}));
    const std::vector<std::pair<std::wstring, std::string>> strings = {
        {L"FileDescription", "Korvane Microsoft 基础类应用程序"},
        {L"FileVersion", "1, 0, 0, 1"},
        {L"InternalName", "Korvane"},
        {L"OriginalFilename", "Korvane.EXE"},
        {L"ProductName", "Korvane 应用程序"},
        {L"ProductVersion", "1, 0, 0, 1"},
    };
    for (const auto& [key, value] : strings) {
        wchar_t* text = nullptr;
        ASSERT_TRUE(::VerQueryValueW(block.data(), (L"\\StringFileInfo\\080404B0\\" + key).c_str(),
                                     reinterpret_cast<void**>(&text), &size));
        EXPECT_EQ(Utf8FromWide(text), value);
    }
    DWORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &size));
    EXPECT_EQ(*translation, 0x04B00804u);  // language 0x0804, code page 1200
}

}  // namespace
}  // namespace korvane
