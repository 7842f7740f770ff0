#include <langinfo.h>
#include <locale.h>

#include <array>
#include <cerrno>

#include "proc/child_text_decoder.hpp"

namespace korvane {

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

void ChildTextDecoder::OpenConverter(std::string_view codeset) {
    converter_ = ::iconv_open("UTF-8", std::string(codeset).c_str());
}

void ChildTextDecoder::CloseConverter() noexcept {
    if (converter_ != NO_CONVERTER) {
        ::iconv_close(converter_);
    }
}

bool ChildTextDecoder::HasConverter() const noexcept {
    return converter_ != NO_CONVERTER;
}

std::string ChildTextDecoder::EndConversion() {
    // Return a stateful encoding to its initial shift state; its closing
    // bytes, if any, belong to the text.
    std::array<char, 16> out{};
    char* out_next = out.data();
    std::size_t out_left = out.size();
    if (::iconv(converter_, nullptr, nullptr, &out_next, &out_left) ==
        static_cast<std::size_t>(-1)) {
        return {};
    }
    return {out.data(), static_cast<std::size_t>(out_next - out.data())};
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
