#include "proc/child_text_decoder.hpp"

#include <cctype>
#include <cstdint>

namespace korvane {
namespace {

// "UTF-8", "utf8", "ANSI_X3.4-1968", "US-ASCII"... compared without case,
// dashes or underscores.
std::string Normalised(std::string_view codeset) {
    std::string name;
    for (const char c : codeset) {
        if (c != '-' && c != '_') {
            name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
    }
    return name;
}

bool PassesThroughAsUtf8(std::string_view codeset) {
    const std::string name = Normalised(codeset);
    return name.empty() || name == "UTF8" || name == "CP65001" || name == "ANSIX3.41968" ||
           name == "ASCII" || name == "USASCII" || name == "646";
}

// Range the second byte of a sequence must lie in, by lead byte (Unicode's
// table of well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF). Continuation bytes after the second are always 80..BF.
struct LeadRule {
    int length = 0;  // 0: the byte cannot start a character
    std::uint8_t second_low = 0x80;
    std::uint8_t second_high = 0xBF;
};

LeadRule RuleFor(std::uint8_t lead) {
    if (lead < 0x80)
        return {.length = 1};
    if (lead >= 0xC2 && lead <= 0xDF)
        return {.length = 2};
    if (lead == 0xE0)
        return {.length = 3, .second_low = 0xA0};
    if (lead == 0xED)
        return {.length = 3, .second_high = 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF)
        return {.length = 3};
    if (lead == 0xF0)
        return {.length = 4, .second_low = 0x90};
    if (lead == 0xF4)
        return {.length = 4, .second_high = 0x8F};
    if (lead >= 0xF1 && lead <= 0xF3)
        return {.length = 4};
    return {};
}

}  // namespace

ChildTextDecoder::ChildTextDecoder(std::string_view codeset) {
    if (!PassesThroughAsUtf8(codeset)) {
        // An unknown codeset leaves the converter unopened: the text is then
        // checked as UTF-8, which keeps at least its ASCII.
        OpenConverter(codeset);
    }
}

ChildTextDecoder::~ChildTextDecoder() {
    CloseConverter();
}

std::string ChildTextDecoder::Decode(std::span<const char> bytes) {
    std::string input = std::move(pending_);
    pending_.clear();
    input.append(bytes.data(), bytes.size());
    return HasConverter() ? Convert(input) : DecodeUtf8(input);
}

std::string ChildTextDecoder::Flush() {
    std::string text;
    if (!pending_.empty()) {
        // What is held back is the valid start of one character: one U+FFFD.
        text.append(REPLACEMENT);
        pending_.clear();
    }
    if (HasConverter()) {
        text.append(EndConversion());
    }
    return text;
}

std::string ChildTextDecoder::DecodeUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        const LeadRule rule = RuleFor(lead);
        if (rule.length == 0) {
            text.append(REPLACEMENT);
            ++i;
            continue;
        }
        std::size_t taken = 1;
        bool broken = false;
        while (taken < static_cast<std::size_t>(rule.length)) {
            if (i + taken == bytes.size()) {
                pending_.assign(bytes.substr(i));  // completed by the next piece
                return text;
            }
            const auto next = static_cast<std::uint8_t>(bytes[i + taken]);
            const std::uint8_t low = taken == 1 ? rule.second_low : 0x80;
            const std::uint8_t high = taken == 1 ? rule.second_high : 0xBF;
            if (next < low || next > high) {
                broken = true;
                break;
            }
            ++taken;
        }
        if (broken) {
            // The valid start of a character cut short: one U+FFFD for it, and
            // the byte that broke it is looked at again as a lead byte.
            text.append(REPLACEMENT);
        } else {
            text.append(bytes.substr(i, taken));
        }
        i += taken;
    }
    return text;
}

}  // namespace korvane
