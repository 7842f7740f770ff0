#include "frontend/target_list.hpp"

#include <unistd.h>

#include <cstdint>
#include <system_error>

#include "download/firmware_file.hpp"

namespace korvane {
namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// Why OpenFirmwareFile found the path unreadable; stat only, so a FIFO is
// not opened again.
TargetsFileStatus WhyUnreadable(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status)) {
        return TargetsFileStatus::Folder;
    }
    if (!error && !std::filesystem::is_regular_file(status)) {
        return TargetsFileStatus::NotRegular;
    }
    return TargetsFileStatus::Unreadable;
}

// Reads `fd` to its end, at most one byte more than a targets file may hold,
// so that a larger one is noticed.
TargetsFile ReadAndParse(int fd) {
    std::string content(MAX_TARGETS_FILE_SIZE + 1, '\0');
    const auto read =
        ReadFully(fd, {reinterpret_cast<std::uint8_t*>(content.data()), content.size()});
    if (!read) {
        return {.status = TargetsFileStatus::Unreadable};
    }
    if (*read > MAX_TARGETS_FILE_SIZE) {
        return {.status = TargetsFileStatus::TooLarge};
    }
    content.resize(*read);
    TargetsFile file{.targets = ParseTargetLines(content)};
    if (file.targets.empty()) {
        file.status = TargetsFileStatus::NoAddress;
    }
    return file;
}

}  // namespace

std::vector<TargetLine> ParseTargetLines(std::string_view text) {
    static constexpr std::string_view SPACE = " \t\v\f";
    if (text.starts_with(BYTE_ORDER_MARK)) {
        text.remove_prefix(BYTE_ORDER_MARK.size());
    }
    std::vector<TargetLine> targets;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        ++number;
        if (end == std::string_view::npos) {
            text = {};
        } else {
            // CR, LF and CRLF each end one line.
            text.remove_prefix(end + (text.substr(end).starts_with("\r\n") ? 2 : 1));
        }
        line = line.substr(0, line.find('#'));
        const std::size_t first = line.find_first_not_of(SPACE);
        if (first == std::string_view::npos) {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(SPACE) - first + 1);
        targets.push_back({.text = std::string(line), .line = number});
    }
    return targets;
}

TargetsFile ReadTargetsFile(const std::filesystem::path& path) {
    if (path == TARGETS_FROM_STDIN) {
        return ReadAndParse(STDIN_FILENO);
    }
    const FirmwareFile file = OpenFirmwareFile(path);
    switch (file.status) {
        case LoadStatus::Loaded:
            break;
        case LoadStatus::NotFound:
            return {.status = TargetsFileStatus::NotFound};
        case LoadStatus::TooLarge:
            return {.status = TargetsFileStatus::TooLarge};
        case LoadStatus::Unreadable:
        case LoadStatus::Changed:
        case LoadStatus::NoMemory:
            return {.status = WhyUnreadable(path)};
    }
    if (file.length > MAX_TARGETS_FILE_SIZE) {
        return {.status = TargetsFileStatus::TooLarge};
    }
    return ReadAndParse(file.fd.Get());
}

std::string_view DescribeTargetsFileStatus(TargetsFileStatus status) {
    switch (status) {
        case TargetsFileStatus::Read:
            return "read";
        case TargetsFileStatus::NotFound:
            return "no such file";
        case TargetsFileStatus::Folder:
            return "is a folder, not a file";
        case TargetsFileStatus::NotRegular:
            return "is not a regular file (a FIFO, socket or device)";
        case TargetsFileStatus::Unreadable:
            return "cannot be read";
        case TargetsFileStatus::TooLarge:
            return "is larger than 1 MiB";
        case TargetsFileStatus::NoAddress:
            return "holds no address, only comments and blank lines";
    }
    return "cannot be read";
}

}  // namespace korvane
