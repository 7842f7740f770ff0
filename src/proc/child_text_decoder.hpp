#pragma once

#ifndef _WIN32
#include <iconv.h>
#endif

#include <span>
#include <string>
#include <string_view>

namespace korvane {

// The character encoding a child started from this process writes its console
// text in. POSIX: the codeset of the locale its environment selects (LC_ALL,
// LC_CTYPE, LANG), which is what the child's own setlocale(LC_ALL, "") picks;
// the process's current locale is not asked, because a front end that never
// calls setlocale stays in the "C" locale while its children do not.
// Windows: the system's ANSI code page, as "CP" and its number ("CP1252").
[[nodiscard]] std::string ChildOutputCodeset();

// Turns the bytes one stream of a child prints into UTF-8 text, piece by
// piece as they are read. A character whose bytes two reads split between them
// is held back and completed by the next piece; bytes that form no character
// become U+FFFD. UTF-8 and the "C" locale's ASCII are taken as UTF-8 (checked,
// not converted: programs under the C locale pass UTF-8 through); any other
// codeset is converted: with iconv on POSIX (any name it knows), with
// MultiByteToWideChar on Windows (a code page of at most two bytes a
// character: "CP936", "CP1252"...). One decoder per stream; owned and used by
// one thread at a time.
class ChildTextDecoder {
public:
    static constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

    explicit ChildTextDecoder(std::string_view codeset);
    ~ChildTextDecoder();
    ChildTextDecoder(const ChildTextDecoder&) = delete;
    ChildTextDecoder& operator=(const ChildTextDecoder&) = delete;

    // The complete characters of everything given so far that were not yet
    // returned, as UTF-8; an incomplete character at the end waits for more.
    [[nodiscard]] std::string Decode(std::span<const char> bytes);

    // At end of data: whatever is held back, as U+FFFD (empty when nothing is).
    [[nodiscard]] std::string Flush();

private:
    std::string DecodeUtf8(std::string_view bytes);

    // The platform's side (child_text_decoder_posix.cpp, _win32.cpp).
    // Opens the converter from `codeset`; none when the name is unknown.
    void OpenConverter(std::string_view codeset);
    void CloseConverter() noexcept;
    [[nodiscard]] bool HasConverter() const noexcept;
    // The complete characters of `bytes`; an incomplete one at the end goes
    // to pending_.
    std::string Convert(std::string_view bytes);
    // The closing bytes of a stateful encoding, back in its initial state.
    std::string EndConversion();

#ifdef _WIN32
    unsigned code_page_ = 0;  // 0: none
#else
    static inline const iconv_t NO_CONVERTER = reinterpret_cast<iconv_t>(-1);
    iconv_t converter_ = NO_CONVERTER;
#endif
    std::string pending_;  // bytes of a character not yet complete
};

}  // namespace korvane
