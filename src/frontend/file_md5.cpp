#include "frontend/file_md5.hpp"

#include "base/hex.hpp"
#include "download/md5_context.hpp"

namespace korvane {

std::string FileMd5Hex(const FirmwareImage& image) {
    return ToHex(image.Length() == 0 ? Md5Context::Of({}) : image.Digest());
}

}  // namespace korvane
