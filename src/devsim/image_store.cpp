#include "devsim/image_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/hex.hpp"
#include "base/unique_fd.hpp"

namespace korvane::devsim {
namespace {

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::filesystem::path StoreImage(const std::filesystem::path& dir, const Digest& md5,
                                 std::span<const std::uint8_t> image, std::string& error) {
    const std::string name = ToHex(md5) + ".bin";
    const std::filesystem::path final_path = dir / name;
    std::string pattern = (dir / ("." + name + ".XXXXXX")).string();
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    UniqueFd fd(::mkstemp(temp.data()));
    if (!fd) {
        error = "cannot create a file in " + dir.string() + ": " + std::strerror(errno);
        return {};
    }
    // mkstemp makes the file private; an image is an ordinary readable file.
    if (!WriteAll(fd.Get(), image) || ::fchmod(fd.Get(), 0644) != 0 || ::close(fd.Release()) != 0) {
        error = "cannot write " + final_path.string() + ": " + std::strerror(errno);
        ::unlink(temp.data());
        return {};
    }
    if (::rename(temp.data(), final_path.c_str()) != 0) {
        error = "cannot write " + final_path.string() + ": " + std::strerror(errno);
        ::unlink(temp.data());
        return {};
    }
    return final_path;
}

}  // namespace korvane::devsim
