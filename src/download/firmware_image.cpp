#include "download/firmware_image.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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
// `done`, in order. Loaded when the buffer is full; Changed when the file
// ends early (it shrank since it was measured); Unreadable on a read error.
template <typename OnSlice>
LoadStatus ReadSlices(int fd, std::span<std::uint8_t> buffer, OnSlice&& done) {
    for (std::size_t offset = 0; offset < buffer.size();) {
        const auto slice = buffer.subspan(offset, std::min(LOAD_SLICE, buffer.size() - offset));
        const auto got = ReadFully(fd, slice);
        if (!got) {
            return LoadStatus::Unreadable;
        }
        if (*got < slice.size()) {
            return LoadStatus::Changed;
        }
        done(slice);
        offset += slice.size();
    }
    return LoadStatus::Loaded;
}

// Reads the file into `buffer` on a thread of its own while the calling thread
// digests what has arrived. The reader publishes how many leading bytes are
// final; the digest never looks past that. Both are done when this returns.
// Nothing when no thread could be started (nothing has been read then).
std::optional<LoadStatus> ReadAndDigestWithReadAhead(int fd, std::span<std::uint8_t> buffer,
                                                     Md5Context& md5) {
    constexpr std::size_t STOPPED = std::numeric_limits<std::size_t>::max();
    std::atomic<std::size_t> ready{0};
    LoadStatus status = LoadStatus::Loaded;  // the reader's; read after `ready` says STOPPED
    std::optional<std::jthread> reader;
    try {
        reader.emplace([fd, buffer, &ready, &status] {
            status = ReadSlices(fd, buffer, [&](std::span<std::uint8_t> slice) {
                ready.store(static_cast<std::size_t>(slice.data() + slice.size() - buffer.data()),
                            std::memory_order_release);
                ready.notify_one();
            });
            if (status != LoadStatus::Loaded) {
                ready.store(STOPPED, std::memory_order_release);
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
        if (now == STOPPED) {
            reader.reset();  // joins; `status` is final
            return status;
        }
        md5.Update(buffer.subspan(digested, now - digested));
        digested = now;
    }
    return LoadStatus::Loaded;
}

// Fills `buffer` from the file and digests exactly the bytes it then holds.
LoadStatus ReadAndDigest(int fd, std::span<std::uint8_t> buffer, Digest& digest) {
    Md5Context md5;
    std::optional<LoadStatus> status;
    if (buffer.size() >= READ_AHEAD_FROM) {
        status = ReadAndDigestWithReadAhead(fd, buffer, md5);
    }
    if (!status) {
        status = ReadSlices(fd, buffer,
                            [&md5](std::span<const std::uint8_t> slice) { md5.Update(slice); });
    }
    if (*status == LoadStatus::Loaded) {
        md5.Final(digest);
    }
    return *status;
}

// After the measured size, the file must be at its end: data beyond it means
// the file grew while it was read, or is a pseudo-file whose size says nothing.
LoadStatus ExpectEnd(int fd) {
    std::uint8_t probe = 0;
    const auto got = ReadFully(fd, std::span(&probe, 1));
    if (!got) {
        return LoadStatus::Unreadable;
    }
    return *got == 0 ? LoadStatus::Loaded : LoadStatus::Changed;
}

}  // namespace

void FirmwareImage::Clear() noexcept {
    data_.reset();
    length_ = 0;
    digest_.fill(0);
}

LoadStatus FirmwareImage::Load(const std::filesystem::path& path) {
    return Load(OpenFirmwareFile(path));
}

LoadStatus FirmwareImage::Load(FirmwareFile file) {
    Clear();
    if (file.status != LoadStatus::Loaded) {
        return file.status;
    }
    if (file.length != 0) {
        // calloc rather than new[]: memory fresh from the system is zero
        // already, so a large buffer costs no extra pass before it is read.
        data_.reset(static_cast<std::uint8_t*>(std::calloc(file.length, 1)));
        if (!data_) {
            return LoadStatus::NoMemory;
        }
        length_ = file.length;
    }
    LoadStatus status = LoadStatus::Loaded;
    if (length_ != 0) {
        status = ReadAndDigest(file.fd.Get(), std::span(data_.get(), length_), digest_);
    }
    if (status == LoadStatus::Loaded) {
        status = ExpectEnd(file.fd.Get());
    }
    if (status != LoadStatus::Loaded) {
        Clear();
    }
    return status;
}

}  // namespace korvane
