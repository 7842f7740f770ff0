#include "devsim/image_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/hex.hpp"

namespace korvane::devsim {

PendingImage::PendingImage(const std::filesystem::path& dir) : dir_(dir) {
    const std::string pattern = (dir / ".incoming.XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = UniqueFd(::mkstemp(name.data()));
    if (!fd_) {
        error_ = "cannot create a file in " + dir.string() + ": " + std::strerror(errno);
        return;
    }
    temp_ = name.data();
}

PendingImage::~PendingImage() {
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
    }
}

void PendingImage::Write(std::span<const std::uint8_t> bytes) {
    while (!Failed() && !bytes.empty()) {
        const ssize_t n = ::write(fd_.Get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error_ = "cannot write " + temp_.string() + ": " + std::strerror(errno);
            return;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
}

std::filesystem::path PendingImage::Keep(const Digest& md5) {
    if (Failed()) {
        return {};
    }
    const std::filesystem::path final_path = dir_ / (ToHex(md5) + ".bin");
    // mkstemp makes the file private; an image is an ordinary readable file.
    if (::fchmod(fd_.Get(), 0644) != 0 || ::close(fd_.Release()) != 0 ||
        ::rename(temp_.c_str(), final_path.c_str()) != 0) {
        error_ = "cannot write " + final_path.string() + ": " + std::strerror(errno);
        return {};
    }
    temp_.clear();
    return final_path;
}

}  // namespace korvane::devsim
