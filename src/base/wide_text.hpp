#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// UTF-8, the programs' own text, to and from the UTF-16 of the Windows API
// (file names, command lines, window text). Windows only (wide_text_win32.cpp):
// POSIX has no wide system calls. An ill-formed sequence becomes U+FFFD.
[[nodiscard]] std::string Utf8FromWide(std::wstring_view wide);
[[nodiscard]] std::wstring WideFromUtf8(std::string_view text);

// The program's arguments as UTF-8 words, and the argc/argv form a parser
// takes, for the wide entry point (wmain) of a Windows program. The pointers
// stay valid as long as the object.
class Utf8Arguments {
public:
    Utf8Arguments(int argc, const wchar_t* const* argv);
    Utf8Arguments(const Utf8Arguments&) = delete;
    Utf8Arguments& operator=(const Utf8Arguments&) = delete;

    [[nodiscard]] int Count() const noexcept { return static_cast<int>(words_.size()); }
    [[nodiscard]] char** Values() noexcept { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;  // into words_, then a null
};

}  // namespace korvane
