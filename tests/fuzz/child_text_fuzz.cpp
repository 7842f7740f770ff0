// libFuzzer target: the child-output decoder gives the same text whether a
// child's bytes arrive in one read or split at arbitrary points, and that text
// is always well-formed UTF-8.
//
// Input: [codeset][split seed][bytes...]. The codeset byte picks one of a few
// encodings a child's locale may use; the seed draws the piece lengths (0-9).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "proc/child_text_decoder.hpp"

namespace {

constexpr const char* CODESETS[] = {"UTF-8",     "ANSI_X3.4-1968", "ISO-8859-1", "GB18030",
                                    "SHIFT_JIS", "BIG5",           "EUC-KR",     "ISO-2022-JP"};

// Well-formed UTF-8 (Unicode 15, table 3-7), checked by decoding each
// character to its code point: no overlong forms, no surrogates, nothing
// above U+10FFFF, no stray or missing continuation bytes.
bool IsUtf8(std::string_view text) {
    struct Form {
        unsigned char mask, lead;  // the lead byte's marker bits and their value
        std::size_t length;
        char32_t smallest;  // anything below needs fewer bytes: overlong
    };
    constexpr Form FORMS[] = {{0x80, 0x00, 1, 0},
                              {0xE0, 0xC0, 2, 0x80},
                              {0xF0, 0xE0, 3, 0x800},
                              {0xF8, 0xF0, 4, 0x10000}};
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const Form* form = std::find_if(std::begin(FORMS), std::end(FORMS), [lead](const Form& f) {
            return (lead & f.mask) == f.lead;
        });
        if (form == std::end(FORMS)) {
            return false;
        }
        const std::size_t length = form->length;
        char32_t point = lead & static_cast<unsigned char>(~form->mask);
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = point << 6 | (next & 0x3F);
        }
        if (point < form->smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const char* codeset = CODESETS[data[0] % std::size(CODESETS)];
    std::minstd_rand pieces(data[1] + 1U);
    const std::span<const char> bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

    korvane::ChildTextDecoder whole(codeset);
    const std::string at_once = whole.Decode(bytes) + whole.Flush();

    korvane::ChildTextDecoder split(codeset);
    std::string piecewise;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = std::min<std::size_t>(pieces() % 10, bytes.size() - at);
        piecewise += split.Decode(bytes.subspan(at, length));
        at += length;
    }
    piecewise += split.Flush();

    if (at_once != piecewise || !IsUtf8(at_once)) {
        std::fprintf(stderr, "codeset %s: at once %zu bytes%s, piecewise %zu bytes\n", codeset,
                     at_once.size(), IsUtf8(at_once) ? "" : " (not UTF-8)", piecewise.size());
        std::abort();
    }
    return 0;
}
