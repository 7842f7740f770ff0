#include "frontend/json_text.hpp"

namespace korvane {
namespace {

// Length of the well-formed UTF-8 sequence that starts `text` (Unicode's
// table of well-formed byte sequences), 0 when its first byte starts none.
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    // The second byte's range narrows for some leads: that excludes overlong
    // forms (E0, F0), surrogates (ED) and code points above U+10FFFF (F4).
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        second_low = lead == 0xE0 ? 0xA0 : 0x80;
        second_high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        second_low = lead == 0xF0 ? 0x90 : 0x80;
        second_high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < second_low || byte(1) > second_high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// Appends \u followed by `prefix` and the byte in two lowercase hex digits.
void AppendEscape(std::string& out, std::string_view prefix, unsigned char byte) {
    static constexpr std::string_view DIGITS = "0123456789abcdef";
    out += "\\u";
    out += prefix;
    out += DIGITS[byte >> 4];
    out += DIGITS[byte & 0x0F];
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        const auto value = static_cast<unsigned char>(c);
        if (value >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text.substr(i));
            if (length == 0) {
                AppendEscape(out, "dc", value);
                ++i;
            } else {
                out += text.substr(i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (value < 0x20) {
                    AppendEscape(out, "00", value);
                } else {
                    out += c;
                }
        }
        ++i;
    }
    out += '"';
    return out;
}

}  // namespace korvane
