#include "proc/child_text_decoder.hpp"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>

namespace korvane {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

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
    return name.empty() || name == "UTF8" || name == "ANSIX3.41968" || name == "ASCII" ||
           name == "USASCII" || name == "646";
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

std::string ChildOutputCodeset() {
    const locale_t environment = ::newlocale(LC_CTYPE_MASK, "", nullptr);
    if (environment == nullptr) {
        // The environment names a locale that is not installed; the child
        // falls back to "C" then, and so do we.
        const locale_t plain = ::newlocale(LC_CTYPE_MASK, "C", nullptr);
        std::string codeset = plain != nullptr ? ::nl_langinfo_l(CODESET, plain) : "";
        if (plain != nullptr) {
            ::freelocale(plain);
        }
        return codeset;
    }
    std::string codeset = ::nl_langinfo_l(CODESET, environment);
    ::freelocale(environment);
    return codeset;
}

ChildTextDecoder::ChildTextDecoder(std::string_view codeset) {
    if (!PassesThroughAsUtf8(codeset)) {
        // An unknown codeset leaves the converter unopened: the text is then
        // checked as UTF-8, which keeps at least its ASCII.
        converter_ = ::iconv_open("UTF-8", std::string(codeset).c_str());
    }
}

ChildTextDecoder::~ChildTextDecoder() {
    if (converter_ != NO_CONVERTER) {
        ::iconv_close(converter_);
    }
}

std::string ChildTextDecoder::Decode(std::span<const char> bytes) {
    std::string input = std::move(pending_);
    pending_.clear();
    input.append(bytes.data(), bytes.size());
    return converter_ != NO_CONVERTER ? Convert(input) : DecodeUtf8(input);
}

std::string ChildTextDecoder::Flush() {
    std::string text;
    if (!pending_.empty()) {
        // What is held back is the valid start of one character: one U+FFFD.
        text.append(REPLACEMENT);
        pending_.clear();
    }
    if (converter_ != NO_CONVERTER) {
        // Return a stateful encoding to its initial shift state; its closing
        // bytes, if any, belong to the text.
        std::array<char, 16> out{};
        char* out_next = out.data();
        std::size_t out_left = out.size();
        if (::iconv(converter_, nullptr, nullptr, &out_next, &out_left) !=
            static_cast<std::size_t>(-1)) {
            text.append(out.data(), static_cast<std::size_t>(out_next - out.data()));
        }
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

std::string ChildTextDecoder::Convert(std::string_view bytes) {
    std::string text;
    std::array<char, 1024> out{};
    // iconv's input pointer is not const; it only reads through it.
    std::string input(bytes);
    char* in_next = input.data();
    std::size_t in_left = input.size();
    while (in_left > 0) {
        char* out_next = out.data();
        std::size_t out_left = out.size();
        const std::size_t result = ::iconv(converter_, &in_next, &in_left, &out_next, &out_left);
        const int error = errno;
        text.append(out.data(), static_cast<std::size_t>(out_next - out.data()));
        if (result != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (error == E2BIG) {
            continue;  // the output chunk is full; go on with a fresh one
        }
        if (error == EINVAL) {
            pending_.assign(in_next, in_left);  // an incomplete character at the end
            break;
        }
        // EILSEQ (or anything else): the byte cannot start a character here.
        text.append(REPLACEMENT);
        ++in_next;
        --in_left;
    }
    return text;
}

}  // namespace korvane
