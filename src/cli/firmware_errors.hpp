#pragma once

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

}  // namespace korvane::cli
