#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>

#include "download/firmware_file.hpp"
#include "link/protocol.hpp"

namespace korvane {

// One firmware file whole in memory, with its 32-bit length and MD5 digest,
// exactly as the file was when loading began. Owns the buffer. The download
// loads one per job on the thread that starts it and hands it to the
// PacketQueue, whose datagrams refer into it; `inspect` loads one to describe
// the file. Movable, not copyable; one thread at a time while loading.
class FirmwareImage {
public:
    FirmwareImage() = default;
    FirmwareImage(FirmwareImage&&) noexcept = default;
    FirmwareImage& operator=(FirmwareImage&&) noexcept = default;

    // Replaces whatever the image held. Reads exactly the size the file had
    // when it was opened: a file that ends early or has data beyond that size
    // (it changed while it was read; or a pseudo-file that reports no size)
    // is Changed, never sent padded or cut. A zero-length file loads as an
    // empty image with an all-zero digest. Anything but a regular file (a
    // folder, a FIFO, a device) is Unreadable; a FIFO is refused without
    // waiting for a writer. On any failure the image is empty.
    [[nodiscard]] LoadStatus Load(const std::filesystem::path& path);
    // The same for a file opened (and measured) by OpenFirmwareFile; one that
    // could not be opened gives the status it came with.
    [[nodiscard]] LoadStatus Load(FirmwareFile file);

    [[nodiscard]] std::span<const std::uint8_t> Data() const noexcept {
        return data_ ? std::span<const std::uint8_t>(data_.get(), length_)
                     : std::span<const std::uint8_t>();
    }
    [[nodiscard]] std::uint32_t Length() const noexcept { return length_; }
    [[nodiscard]] const korvane::Digest& Digest() const noexcept { return digest_; }

private:
    struct FreeBuffer {
        void operator()(std::uint8_t* p) const noexcept { std::free(p); }
    };

    void Clear() noexcept;

    std::unique_ptr<std::uint8_t, FreeBuffer> data_;
    std::uint32_t length_ = 0;
    korvane::Digest digest_{};
};

}  // namespace korvane
