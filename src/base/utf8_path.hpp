#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korvane {

// The programs carry file names as UTF-8 text (command lines, settings,
// messages, JSON). A std::filesystem::path made from a plain std::string reads
// the bytes in the system's code page on Windows, which mangles a name
// outside it (a Chinese folder on an English system); these two convert as
// UTF-8 on every platform, and are the identity on POSIX.
[[nodiscard]] inline std::filesystem::path Utf8Path(std::string_view text) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

[[nodiscard]] inline std::string Utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace korvane
