#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "download/firmware_file.hpp"

namespace korvane {

FirmwareFile OpenFirmwareFile(const std::filesystem::path& path) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it is
    // dropped again once the path is known to be a regular file.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        return {.status = errno == ENOENT || errno == ENOTDIR ? LoadStatus::NotFound
                                                              : LoadStatus::Unreadable};
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        ::fcntl(fd.Get(), F_SETFL, 0) != 0) {
        return {.status = LoadStatus::Unreadable};
    }
    if (static_cast<std::uint64_t>(info.st_size) > std::numeric_limits<std::uint32_t>::max()) {
        return {.status = LoadStatus::TooLarge};
    }
    return {.fd = std::move(fd), .length = static_cast<std::uint32_t>(info.st_size)};
}

std::optional<std::size_t> ReadFully(int fd, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace korvane
