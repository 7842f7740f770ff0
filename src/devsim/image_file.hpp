#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>

#include "base/unique_fd.hpp"

namespace korvane::devsim {

// The file calls of PendingImage, one implementation per platform; errors
// are the system's.

// Makes a new file in `dir` named ".incoming." and six characters no other
// file there has, open for writing; sets `fd` and `path`.
[[nodiscard]] std::error_code CreateIncomingFile(const std::filesystem::path& dir, UniqueFd& fd,
                                                 std::filesystem::path& path);

// Writes all of `bytes` to `fd`.
[[nodiscard]] std::error_code WriteFully(int fd, std::span<const std::uint8_t> bytes);

// Closes `fd`, the file at `from`, and renames it to `to` (replacing a file
// there) as an ordinary file others may read.
[[nodiscard]] std::error_code PublishFile(UniqueFd fd, const std::filesystem::path& from,
                                          const std::filesystem::path& to);

}  // namespace korvane::devsim
