#include "download/firmware_image.hpp"

#include <algorithm>
#include <atomic>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>

#include "download/md5_context.hpp"

namespace korvane {
namespace {

// The file arrives in slices. Each is digested soon after it is read, so the
// digest needs no second pass of its own over a large buffer.
constexpr std::size_t LOAD_SLICE = 256 * 1024;

// From this size on, a second thread reads ahead while this one digests: the
// first touch of a large fresh buffer costs about half as much as the digest,
// and the two then overlap instead of adding up.
constexpr std::size_t READ_AHEAD_FROM = 4 * 1024 * 1024;

// Fills `buffer` from the file slice by slice and hands each finished slice to
// `done`, in order. When the file ends early (it shrank since it was
// measured), the rest of the buffer keeps its zeros and is handed on as it
// is. False on a read error.
template <typename OnSlice>
bool ReadSlices(int fd, std::span<std::uint8_t> buffer, OnSlice&& done) {
    bool at_end = false;
    for (std::size_t offset = 0; offset < buffer.size();) {
        const auto slice = buffer.subspan(offset, std::min(LOAD_SLICE, buffer.size() - offset));
        if (!at_end) {
            const auto got = ReadFully(fd, slice);
            if (!got) {
                return false;
            }
            at_end = *got < slice.size();
        }
        done(slice);
        offset += slice.size();
    }
    return true;
}

// Reads the file into `buffer` on a thread of its own while the calling thread
// digests what has arrived. The reader publishes how many leading bytes are
// final; the digest never looks past that. Both are done when this returns.
// Nothing when no thread could be started (nothing has been read then).
std::optional<bool> ReadAndDigestWithReadAhead(int fd, std::span<std::uint8_t> buffer,
                                               Md5Context& md5) {
    constexpr std::size_t READ_FAILED = std::numeric_limits<std::size_t>::max();
    std::atomic<std::size_t> ready{0};
    std::optional<std::jthread> reader;
    try {
        reader.emplace([fd, buffer, &ready] {
            const bool ok = ReadSlices(fd, buffer, [&](std::span<std::uint8_t> slice) {
                ready.store(static_cast<std::size_t>(slice.data() + slice.size() - buffer.data()),
                            std::memory_order_release);
                ready.notify_one();
            });
            if (!ok) {
                ready.store(READ_FAILED, std::memory_order_release);
                ready.notify_one();
            }
        });
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::size_t digested = 0;
    while (digested < buffer.size()) {
        ready.wait(digested, std::memory_order_acquire);
        const std::size_t now = ready.load(std::memory_order_acquire);
        if (now == READ_FAILED) {
            return false;  // the reader has stopped; the jthread joins it
        }
        md5.Update(buffer.subspan(digested, now - digested));
        digested = now;
    }
    return true;
}

// Fills `buffer` from the file and digests exactly the bytes it then holds.
bool ReadAndDigest(int fd, std::span<std::uint8_t> buffer, Digest& digest) {
    Md5Context md5;
    std::optional<bool> ok;
    if (buffer.size() >= READ_AHEAD_FROM) {
        ok = ReadAndDigestWithReadAhead(fd, buffer, md5);
    }
    if (!ok) {
        ok = ReadSlices(fd, buffer,
                        [&md5](std::span<const std::uint8_t> slice) { md5.Update(slice); });
    }
    if (*ok) {
        md5.Final(digest);
    }
    return *ok;
}

}  // namespace

LoadStatus FirmwareImage::Load(const std::filesystem::path& path) {
    Release();
    digest_.fill(0);

    FirmwareFile file;
    if (const LoadStatus opened = OpenFirmwareFile(path, file); opened != LoadStatus::Loaded) {
        return opened;
    }
    length_ = file.length;
    if (length_ == 0) {
        return LoadStatus::Loaded;
    }
    if (!Allocate()) {
        Release();
        return LoadStatus::NoMemory;
    }

    if (!ReadAndDigest(file.fd.Get(), std::span(data_.get(), length_), digest_)) {
        Release();
        return LoadStatus::Unreadable;
    }
    return LoadStatus::Loaded;
}

bool FirmwareImage::Allocate() {
    if (length_ == 0) {
        return false;
    }
    // calloc rather than a zeroing loop: memory fresh from the system is zero
    // already, so a large buffer costs no second pass.
    data_.reset(static_cast<std::uint8_t*>(std::calloc(length_, 1)));
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
