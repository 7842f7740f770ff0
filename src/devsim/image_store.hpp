#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "base/unique_fd.hpp"
#include "link/protocol.hpp"

namespace korvane::devsim {

// One image on its way into a folder: a hidden temporary file there, written
// while the transfer runs and renamed to <md5 in hex>.bin by Keep once the
// device has judged it good, so that a reader never sees half an image. The
// chunks are gathered into WRITE_BLOCK bytes per write: a write of one 8000-byte
// chunk costs the file system about three times what its share of a large one
// does. Owns the temporary file, removed unless kept, and that buffer. Lives
// for one transfer; one thread at a time.
class PendingImage {
public:
    // A file in `dir`; when it cannot be made, Failed() and Error() say why.
    explicit PendingImage(const std::filesystem::path& dir);
    ~PendingImage();
    PendingImage(const PendingImage&) = delete;
    PendingImage& operator=(const PendingImage&) = delete;

    // Appends `bytes`; after a failure it only keeps the first error.
    void Write(std::span<const std::uint8_t> bytes);

    static constexpr std::size_t WRITE_BLOCK = 256 * 1024;

    // Renames the file into place as dir/<md5 in hex>.bin: the final path, or
    // an empty path when this or an earlier step failed (see Error()).
    [[nodiscard]] std::filesystem::path Keep(const Digest& md5);

    [[nodiscard]] bool Failed() const noexcept { return !error_.empty(); }
    [[nodiscard]] const std::string& Error() const noexcept { return error_; }

private:
    // Writes what is gathered, if anything.
    void Flush();

    std::filesystem::path dir_;
    std::filesystem::path temp_;  // empty once kept or when never made
    UniqueFd fd_;
    std::string error_;
    std::unique_ptr<std::uint8_t[]> block_;  // gathered bytes not yet written
    std::size_t gathered_ = 0;
};

}  // namespace korvane::devsim
