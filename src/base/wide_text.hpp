#pragma once

#include <string>
#include <string_view>

namespace korvane {

// UTF-8, the programs' own text, to and from the UTF-16 of the Windows API
// (file names, command lines, window text). Windows only (wide_text_win32.cpp):
// POSIX has no wide system calls. An ill-formed sequence becomes U+FFFD.
[[nodiscard]] std::string Utf8FromWide(std::wstring_view wide);
[[nodiscard]] std::wstring WideFromUtf8(std::string_view text);

}  // namespace korvane
