#include "frontend/target_list.hpp"

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

}  // namespace

std::vector<std::string> ParseTargetList(std::string_view text) {
    static constexpr std::string_view SPACE = " \t\v\f";
    if (text.starts_with(BYTE_ORDER_MARK)) {
        text.remove_prefix(BYTE_ORDER_MARK.size());
    }
    std::vector<std::string> targets;
    while (!text.empty()) {
        // CR and LF both end a line; the empty line between CR and LF of a
        // CRLF is blank and so ignored.
        const std::size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        line = line.substr(0, line.find('#'));
        const std::size_t first = line.find_first_not_of(SPACE);
        if (first == std::string_view::npos) {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(SPACE) - first + 1);
        targets.emplace_back(line);
    }
    return targets;
}

TargetsFile ReadTargetsFile(const std::filesystem::path& path) {
    FirmwareFile file;
    switch (OpenFirmwareFile(path, file)) {
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
    // One byte more than allowed, so a file that grew since it was opened
    // is noticed.
    std::string content(MAX_TARGETS_FILE_SIZE + 1, '\0');
    const auto read =
        ReadFully(file.fd.Get(), {reinterpret_cast<std::uint8_t*>(content.data()), content.size()});
    if (!read) {
        return {.status = TargetsFileStatus::Unreadable};
    }
    if (*read > MAX_TARGETS_FILE_SIZE) {
        return {.status = TargetsFileStatus::TooLarge};
    }
    content.resize(*read);
    return {.status = TargetsFileStatus::Read, .targets = ParseTargetList(content)};
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
    }
    return "cannot be read";
}

}  // namespace korvane
