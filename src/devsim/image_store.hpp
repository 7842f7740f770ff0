#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "base/unique_fd.hpp"
#include "link/protocol.hpp"

namespace korvane::devsim {

// One image on its way into a folder: a hidden temporary file there, written
// chunk by chunk while the transfer runs and renamed to <md5 in hex>.bin by
// Keep once the device has judged it good, so that a reader never sees half an
// image. Owns the temporary file and removes it unless kept. Lives for one
// transfer; Write may run on another thread than the rest, one at a time.
class PendingImage {
public:
    // A file in `dir`; when it cannot be made, Failed() and Error() say why.
    explicit PendingImage(const std::filesystem::path& dir);
    ~PendingImage();
    PendingImage(const PendingImage&) = delete;
    PendingImage& operator=(const PendingImage&) = delete;

    // Appends `bytes`; after a failure it only keeps the first error.
    void Write(std::span<const std::uint8_t> bytes);

    // Renames the file into place as dir/<md5 in hex>.bin: the final path, or
    // an empty path when this or an earlier step failed (see Error()).
    [[nodiscard]] std::filesystem::path Keep(const Digest& md5);

    [[nodiscard]] bool Failed() const noexcept { return !error_.empty(); }
    [[nodiscard]] const std::string& Error() const noexcept { return error_; }

private:
    std::filesystem::path dir_;
    std::filesystem::path temp_;  // empty once kept or when never made
    UniqueFd fd_;
    std::string error_;
};

}  // namespace korvane::devsim
