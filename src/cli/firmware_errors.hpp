#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "download/firmware_image.hpp"

namespace korvane::cli {

// Why a firmware file could not be loaded, in the operator's words.
[[nodiscard]] inline std::string_view DescribeLoadFailure(LoadStatus status) {
    switch (status) {
        case LoadStatus::Loaded:
            return "loaded";
        case LoadStatus::NotFound:
            return "no such file";
        case LoadStatus::Unreadable:
            return "cannot be read (a folder, no permission or a read error)";
        case LoadStatus::Changed:
            return "changed size while it was read";
        case LoadStatus::TooLarge:
            return "too large (4 GiB or more)";
        case LoadStatus::NoMemory:
            return "not enough memory to load it";
    }
    return "cannot be loaded";
}

// Why nothing can be read at `path`, in the system's words where it has some
// ("No such file or directory", "Permission denied", "Is a directory"), for
// the line after the operator's message. Never waits on a FIFO.
[[nodiscard]] std::string WhyNotReadable(const std::filesystem::path& path);

// The same for a firmware file that `status` refused to load: the system's
// words, or the size of a file too large, or that it changed while read.
[[nodiscard]] std::string DescribeFirmwareProblem(const std::filesystem::path& path,
                                                  LoadStatus status);

}  // namespace korvane::cli
