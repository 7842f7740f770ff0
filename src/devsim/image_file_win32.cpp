#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <random>
#include <string>

#include "devsim/image_file.hpp"

namespace korvane::devsim {
namespace {

std::error_code LastError() noexcept {
    return {errno, std::generic_category()};
}

// The C runtime's words for why MoveFileExW failed (the C++ library of
// mingw-w64 has none for a Windows error code).
std::error_code MoveError(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::make_error_code(std::errc::no_such_file_or_directory);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return std::make_error_code(std::errc::permission_denied);
        case ERROR_DISK_FULL:
            return std::make_error_code(std::errc::no_space_on_device);
        default:
            return std::make_error_code(std::errc::io_error);
    }
}

}  // namespace

std::error_code CreateIncomingFile(const std::filesystem::path& dir, UniqueFd& fd,
                                   std::filesystem::path& path) {
    // The C runtime has no mkstemp: fresh names until one is not taken.
    static constexpr char LETTERS[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof LETTERS - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".incoming.";
        for (int i = 0; i < 6; ++i) {
            name += LETTERS[pick(random)];
        }
        const std::filesystem::path candidate = dir / name;
        int opened = -1;
        const errno_t failed = ::_wsopen_s(
            &opened, candidate.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
            _SH_DENYNO, _S_IREAD | _S_IWRITE);
        if (failed == 0) {
            fd = UniqueFd(opened);
            path = candidate;
            return {};
        }
        if (failed != EEXIST) {
            return {failed, std::generic_category()};
        }
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code WriteFully(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        // _write takes an unsigned count: a large piece goes in parts.
        const auto want = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), INT_MAX));
        const int n = ::_write(fd, bytes.data(), want);
        if (n < 0) {
            return LastError();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

std::error_code PublishFile(UniqueFd fd, const std::filesystem::path& from,
                            const std::filesystem::path& to) {
    if (::_close(fd.Release()) != 0) {
        return LastError();
    }
    // The C runtime's rename refuses to replace a file: MoveFileExW does.
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        return MoveError(::GetLastError());
    }
    return {};
}

}  // namespace korvane::devsim
