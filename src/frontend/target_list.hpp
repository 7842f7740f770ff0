#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The largest targets file read: a rack's list is a few KiB, so anything
// bigger is the wrong file.
inline constexpr std::size_t MAX_TARGETS_FILE_SIZE = std::size_t{1} << 20;

// The device addresses of a targets file: one per line; lines end with LF,
// CRLF or a lone CR; a leading UTF-8 byte-order mark is skipped; from '#' to
// the end of a line is a comment; white space around an address and blank
// lines are ignored. The addresses are returned as written, unchecked, in
// file order, each with the number of its line (from 1).
struct TargetLine {
    std::string text;
    std::size_t line = 0;

    friend bool operator==(const TargetLine&, const TargetLine&) = default;
};
[[nodiscard]] std::vector<TargetLine> ParseTargetLines(std::string_view text);

// The path that stands for standard input, and the name it goes by in messages.
inline constexpr std::string_view TARGETS_FROM_STDIN = "-";
inline constexpr std::string_view STDIN_NAME = "<stdin>";

enum class TargetsFileStatus {
    Read,
    NotFound,
    Folder,
    NotRegular,  // a FIFO, socket or device
    Unreadable,  // no permission or a read error
    TooLarge,    // more than MAX_TARGETS_FILE_SIZE bytes
    NoAddress,   // only comments and blank lines: surely not the list meant
};

struct TargetsFile {
    TargetsFileStatus status = TargetsFileStatus::Read;
    std::vector<TargetLine> targets;  // when Read: at least one
};

// Reads and parses the targets file at `path`, or standard input to its end
// when `path` is TARGETS_FROM_STDIN (a pipe or file; a terminal is read until
// Ctrl-D). A file never blocks: it is opened without waiting for a FIFO's
// writer, and anything but a regular file is refused before a byte is read.
[[nodiscard]] TargetsFile ReadTargetsFile(const std::filesystem::path& path);

// Why a targets file was refused, in the operator's words ("is a folder" ...).
[[nodiscard]] std::string_view DescribeTargetsFileStatus(TargetsFileStatus status);

}  // namespace korvane
