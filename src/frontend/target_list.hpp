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
// file order.
[[nodiscard]] std::vector<std::string> ParseTargetList(std::string_view text);

enum class TargetsFileStatus {
    Read,
    NotFound,
    Folder,
    NotRegular,  // a FIFO, socket or device
    Unreadable,  // no permission or a read error
    TooLarge,    // more than MAX_TARGETS_FILE_SIZE bytes
};

struct TargetsFile {
    TargetsFileStatus status = TargetsFileStatus::Read;
    std::vector<std::string> targets;  // when Read
};

// Reads and parses the targets file at `path`. Never blocks: the file is
// opened without waiting for a FIFO's writer, and anything but a regular
// file is refused before a byte is read.
[[nodiscard]] TargetsFile ReadTargetsFile(const std::filesystem::path& path);

// Why a targets file was refused, in the operator's words ("is a folder" ...).
[[nodiscard]] std::string_view DescribeTargetsFileStatus(TargetsFileStatus status);

}  // namespace korvane
