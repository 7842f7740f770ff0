#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "base/unique_fd.hpp"

namespace korvane {

enum class LoadStatus {
    Loaded,      // the whole file is in memory (or it was empty)
    NotFound,    // nothing at the path
    Unreadable,  // a folder, a FIFO or device, no permission, or a read error
    Changed,     // the file grew or shrank while it was read
    TooLarge,    // 4 GiB or more: the header's length field has 32 bits
    NoMemory,    // the buffer could not be allocated
};

// A firmware file opened for reading, with its length as the header carries
// it; or why it could not be opened (the descriptor is then not valid).
struct FirmwareFile {
    LoadStatus status = LoadStatus::Loaded;
    UniqueFd fd;
    std::uint32_t length = 0;
};

// Opens the file at `path` for reading. Only a regular file is accepted: the
// open of a FIFO would otherwise wait for a writer, and a folder or device has
// no firmware to read. Files of 4 GiB or more are refused (TooLarge).
[[nodiscard]] FirmwareFile OpenFirmwareFile(const std::filesystem::path& path);

// Reads until `out` is full or the file ends. The count read (short only at
// the end of the file), nothing on a read error.
[[nodiscard]] std::optional<std::size_t> ReadFully(int fd, std::span<std::uint8_t> out);

}  // namespace korvane
