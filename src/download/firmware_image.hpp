#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>

#include "download/firmware_file.hpp"
#include "link/protocol.hpp"

namespace korvane {

// One firmware file whole in memory, with its 32-bit length and MD5 digest.
// Owns the buffer. The download makes one per job on the thread that starts
// the job, reads it while building the queue and lets it go.
class FirmwareImage {
public:
    FirmwareImage() = default;
    virtual ~FirmwareImage() = default;
    FirmwareImage(const FirmwareImage&) = delete;
    FirmwareImage& operator=(const FirmwareImage&) = delete;

    // Replaces whatever the image held. A zero-length file loads as an empty
    // image with an all-zero digest. On any failure the image is empty.
    // Anything but a regular file (a folder, a FIFO, a device) is Unreadable;
    // a FIFO is refused without waiting for a writer.
    [[nodiscard]] LoadStatus Load(const std::filesystem::path& path);

    // Makes a zero-filled buffer of Length() bytes and zeroes the digest.
    [[nodiscard]] bool Allocate();
    // Frees the buffer; Length() becomes 0, the digest stays.
    void Release() noexcept;
    // Digest of `bytes`; false (digest unchanged) for an empty range.
    [[nodiscard]] bool ComputeDigest(std::span<const std::uint8_t> bytes);

    [[nodiscard]] std::span<const std::uint8_t> Data() const noexcept {
        return data_ ? std::span<const std::uint8_t>(data_.get(), length_)
                     : std::span<const std::uint8_t>();
    }
    [[nodiscard]] std::uint32_t Length() const noexcept { return length_; }
    [[nodiscard]] const korvane::Digest& Digest() const noexcept { return digest_; }
    [[nodiscard]] bool Empty() const noexcept { return !data_ || length_ == 0; }

private:
    struct FreeBuffer {
        void operator()(std::uint8_t* p) const noexcept { std::free(p); }
    };

    std::unique_ptr<std::uint8_t, FreeBuffer> data_;
    std::uint32_t length_ = 0;
    korvane::Digest digest_{};
};

}  // namespace korvane
