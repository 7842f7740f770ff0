#include "devsim/image_store.hpp"

#include "base/hex.hpp"
#include "devsim/image_file.hpp"

namespace korvane::devsim {

PendingImage::PendingImage(const std::filesystem::path& dir) : dir_(dir) {
    if (const std::error_code error = CreateIncomingFile(dir, fd_, temp_)) {
        error_ = "cannot create a file in " + dir.string() + ": " + error.message();
    }
}

PendingImage::~PendingImage() {
    if (!temp_.empty()) {
        fd_.Reset();  // Windows removes no file that is still open
        std::error_code ignored;
        std::filesystem::remove(temp_, ignored);
    }
}

void PendingImage::Write(std::span<const std::uint8_t> bytes) {
    if (Failed()) {
        return;
    }
    if (const std::error_code error = WriteFully(fd_.Get(), bytes)) {
        error_ = "cannot write " + temp_.string() + ": " + error.message();
    }
}

std::filesystem::path PendingImage::Keep(const Digest& md5) {
    if (Failed()) {
        return {};
    }
    const std::filesystem::path final_path = dir_ / (ToHex(md5) + ".bin");
    if (const std::error_code error = PublishFile(std::move(fd_), temp_, final_path)) {
        error_ = "cannot write " + final_path.string() + ": " + error.message();
        return {};
    }
    temp_.clear();
    return final_path;
}

}  // namespace korvane::devsim
