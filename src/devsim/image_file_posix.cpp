#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "devsim/image_file.hpp"

namespace korvane::devsim {
namespace {

std::error_code LastError() noexcept {
    return {errno, std::system_category()};
}

}  // namespace

std::error_code CreateIncomingFile(const std::filesystem::path& dir, UniqueFd& fd,
                                   std::filesystem::path& path) {
    const std::string pattern = (dir / ".incoming.XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = UniqueFd(::mkstemp(name.data()));
    if (!fd) {
        return LastError();
    }
    path = name.data();
    return {};
}

std::error_code WriteFully(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return LastError();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

std::error_code PublishFile(UniqueFd fd, const std::filesystem::path& from,
                            const std::filesystem::path& to) {
    // mkstemp makes the file private; an image is an ordinary readable file.
    if (::fchmod(fd.Get(), 0644) != 0 || ::close(fd.Release()) != 0 ||
        ::rename(from.c_str(), to.c_str()) != 0) {
        return LastError();
    }
    return {};
}

}  // namespace korvane::devsim
