#pragma once

#include <iconv.h>

#include <span>
#include <string>
#include <string_view>

namespace korvane {

// The character encoding a child started from this process writes its console
// text in: the codeset of the locale its environment selects (LC_ALL,
// LC_CTYPE, LANG), which is what the child's own setlocale(LC_ALL, "") picks.
// The process's current locale is not asked, because a front end that never
// calls setlocale stays in the "C" locale while its children do not.
[[nodiscard]] std::string ChildOutputCodeset();

// Turns the bytes one stream of a child prints into UTF-8 text, piece by
// piece as they are read. A character whose bytes two reads split between them
// is held back and completed by the next piece; bytes that form no character
// become U+FFFD. UTF-8 and the "C" locale's ASCII are taken as UTF-8 (checked,
// not converted: programs under the C locale pass UTF-8 through); any other
// codeset is converted with iconv. One decoder per stream; owned and used by
// one thread at a time.
class ChildTextDecoder {
public:
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
    static inline const iconv_t NO_CONVERTER = reinterpret_cast<iconv_t>(-1);

    std::string DecodeUtf8(std::string_view bytes);
    std::string Convert(std::string_view bytes);

    iconv_t converter_ = NO_CONVERTER;
    std::string pending_;  // bytes of a character not yet complete
};

}  // namespace korvane
