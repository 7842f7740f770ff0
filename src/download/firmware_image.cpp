#include "download/firmware_image.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "base/unique_fd.hpp"
#include "download/md5_context.hpp"

namespace korvane {
namespace {

// Reads until `out` is full or the file ends; false on a read error.
bool ReadFully(int fd, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;  // the file shrank since it was measured: the rest stays zero
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

LoadStatus FirmwareImage::Load(const std::filesystem::path& path) {
    Release();
    digest_.fill(0);

    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return errno == ENOENT || errno == ENOTDIR ? LoadStatus::NotFound
                                                   : LoadStatus::Unreadable;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return LoadStatus::Unreadable;
    }
    if (static_cast<std::uint64_t>(info.st_size) > std::numeric_limits<std::uint32_t>::max()) {
        return LoadStatus::TooLarge;
    }
    length_ = static_cast<std::uint32_t>(info.st_size);
    if (length_ == 0) {
        return LoadStatus::Loaded;
    }
    if (!Allocate()) {
        Release();
        return LoadStatus::NoMemory;
    }
    if (!ReadFully(fd.Get(), std::span(data_.get(), length_))) {
        Release();
        return LoadStatus::Unreadable;
    }
    (void)ComputeDigest(Data());
    return LoadStatus::Loaded;
}

bool FirmwareImage::Allocate() {
    if (length_ == 0) {
        return false;
    }
    data_.reset(new (std::nothrow) std::uint8_t[length_]());
    if (!data_) {
        return false;
    }
    digest_.fill(0);
    return true;
}

void FirmwareImage::Release() noexcept {
    data_.reset();
    length_ = 0;
}

bool FirmwareImage::ComputeDigest(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return false;
    }
    digest_ = Md5Context::Of(bytes);
    return true;
}

}  // namespace korvane
