#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The program's command line as UTF-8 texts, its name first: argv as given
// on POSIX; on Windows the UTF-16 command line of the process (argv there is
// in the ANSI code page, which has no room for most names), converted.
[[nodiscard]] std::vector<std::string> Utf8Arguments(int argc, char** argv);

// The path a UTF-8 argument names (on Windows a plain string would be taken
// as the ANSI code page).
[[nodiscard]] inline std::filesystem::path PathArgument(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace korvane
