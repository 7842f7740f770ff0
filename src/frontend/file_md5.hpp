#pragma once

#include <string>

#include "download/firmware_image.hpp"

namespace korvane {

// The MD5 of the image's file in 32 lowercase hex digits, as md5sum prints
// it. The header carries zeros for an empty file instead of the MD5 of no
// bytes (d41d8cd98f00b204e9800998ecf8427e); for any other file the two agree.
[[nodiscard]] std::string FileMd5Hex(const FirmwareImage& image);

}  // namespace korvane
