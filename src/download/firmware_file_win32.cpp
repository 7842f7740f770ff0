#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>

#include "download/firmware_file.hpp"

namespace korvane {

FirmwareFile OpenFirmwareFile(const std::filesystem::path& path) {
    // The wide-character open: the path stays UTF-16 all the way, so a name
    // outside the system's code page opens too. Binary mode: no CR/LF
    // translation of the firmware's bytes.
    UniqueFd fd(::_wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    if (!fd) {
        return {.status = errno == ENOENT ? LoadStatus::NotFound : LoadStatus::Unreadable};
    }
    struct _stat64 info {};
    if (::_fstat64(fd.Get(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
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
        // _read takes an unsigned count: a large buffer is read in pieces.
        const auto want = static_cast<unsigned>(std::min<std::size_t>(out.size() - done, INT_MAX));
        const int n = ::_read(fd, out.data() + done, want);
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
