#include <windows.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include "base/wide_text.hpp"
#include "proc/child_text_decoder.hpp"

namespace korvane {
namespace {

// The UTF-8 form of `bytes` in `code_page`; nothing when a byte forms no
// character there.
std::optional<std::string> ToUtf8(unsigned code_page, std::string_view bytes) {
    if (bytes.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(bytes.size());
    const int wide_length =
        ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (wide_length <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                          wide_length);
    return Utf8FromWide(wide);
}

// A lead byte of a double-byte code page takes the byte after it.
std::size_t CharLength(unsigned code_page, char byte) {
    return ::IsDBCSLeadByteEx(code_page, static_cast<BYTE>(byte)) != FALSE ? 2 : 1;
}

}  // namespace

std::string ChildOutputCodeset() {
    return "CP" + std::to_string(::GetACP());
}

// "CP936", "cp1252": a code page by its number. Only code pages of one or two
// bytes a character (every ANSI code page but UTF-8, which passes through).
void ChildTextDecoder::OpenConverter(std::string_view codeset) {
    if (codeset.size() < 3 || std::toupper(static_cast<unsigned char>(codeset[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(codeset[1])) != 'P') {
        return;
    }
    unsigned number = 0;
    const auto [end, error] =
        std::from_chars(codeset.data() + 2, codeset.data() + codeset.size(), number);
    CPINFO info{};
    if (error == std::errc() && end == codeset.data() + codeset.size() &&
        ::IsValidCodePage(number) != FALSE && ::GetCPInfo(number, &info) != FALSE &&
        info.MaxCharSize <= 2) {
        code_page_ = number;
    }
}

void ChildTextDecoder::CloseConverter() noexcept {}

bool ChildTextDecoder::HasConverter() const noexcept {
    return code_page_ != 0;
}

// No code page of at most two bytes a character has a shift state.
std::string ChildTextDecoder::EndConversion() {
    return {};
}

std::string ChildTextDecoder::Convert(std::string_view bytes) {
    std::size_t whole = 0;
    while (whole < bytes.size() && whole + CharLength(code_page_, bytes[whole]) <= bytes.size()) {
        whole += CharLength(code_page_, bytes[whole]);
    }
    if (std::optional<std::string> text = ToUtf8(code_page_, bytes.substr(0, whole))) {
        pending_.assign(bytes.substr(whole));  // a lead byte whose partner comes next
        return *std::move(text);
    }
    // Some bytes form no character: one character at a time, U+FFFD for a
    // byte that starts none (the byte after it is looked at again).
    std::string text;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = CharLength(code_page_, bytes[i]);
        if (i + length > bytes.size()) {
            break;
        }
        if (std::optional<std::string> character = ToUtf8(code_page_, bytes.substr(i, length))) {
            text.append(*character);
            i += length;
        } else {
            text.append(REPLACEMENT);
            ++i;
        }
    }
    pending_.assign(bytes.substr(i));
    return text;
}

}  // namespace korvane
