#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "link/protocol.hpp"

namespace korvane::devsim {

// Writes `image` to dir/<md5 in hex>.bin whole: into a hidden temporary file
// first, renamed into place once complete, so a reader never sees half an
// image. Returns the final path, or an empty path with `error` set.
[[nodiscard]] std::filesystem::path StoreImage(const std::filesystem::path& dir, const Digest& md5,
                                               std::span<const std::uint8_t> image,
                                               std::string& error);

}  // namespace korvane::devsim
