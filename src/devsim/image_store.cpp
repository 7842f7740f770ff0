#include "devsim/image_store.hpp"

#include <algorithm>

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
    if (!block_) {
        block_ = std::make_unique_for_overwrite<std::uint8_t[]>(WRITE_BLOCK);
    }
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), WRITE_BLOCK - gathered_);
        std::copy_n(bytes.begin(), n, block_.get() + gathered_);
        gathered_ += n;
        bytes = bytes.subspan(n);
        if (gathered_ == WRITE_BLOCK) {
            Flush();
        }
    }
}

void PendingImage::Flush() {
    if (Failed() || gathered_ == 0) {
        return;
    }
    if (const std::error_code error = WriteFully(fd_.Get(), std::span(block_.get(), gathered_))) {
        error_ = "cannot write " + temp_.string() + ": " + error.message();
    }
    gathered_ = 0;
}

std::filesystem::path PendingImage::Keep(const Digest& md5) {
    Flush();
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
