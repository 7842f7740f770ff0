#include "cli/firmware_errors.hpp"

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <system_error>

namespace korvane::cli {
std::string WhyNotReadable(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) {
        return error.message();  // no such file, permission denied on a folder on the way ...
    }
    if (std::filesystem::is_directory(status)) {
        return std::make_error_code(std::errc::is_a_directory).message();
    }
    if (!std::filesystem::is_regular_file(status)) {
        return "not a regular file (a FIFO, socket or device)";
    }
    // A regular file opens without waiting, whatever it holds.
    errno = 0;
    const std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return errno != 0 ? std::generic_category().message(errno) : "it cannot be opened";
    }
    return "a read error";
}

std::string DescribeFirmwareProblem(const std::filesystem::path& path, LoadStatus status) {
    switch (status) {
        case LoadStatus::Loaded:
            return "loaded";
        case LoadStatus::NotFound:
        case LoadStatus::Unreadable:
            return WhyNotReadable(path);
        case LoadStatus::Changed:
            return "it changed size while it was read";
        case LoadStatus::TooLarge: {
            std::error_code error;
            const std::uintmax_t size = std::filesystem::file_size(path, error);
            return (error ? std::string("4 GiB or more") : std::to_string(size) + " bytes") +
                   "; a download carries at most 4294967295";
        }
        case LoadStatus::NoMemory:
            return std::make_error_code(std::errc::not_enough_memory).message();
    }
    return "it cannot be loaded";
}

}  // namespace korvane::cli
