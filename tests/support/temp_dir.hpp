#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace korvane::testing {

// A fresh folder under the system's temp dir, removed with everything in it
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& Path() const noexcept { return path_; }
    // Writes `bytes` to Path()/name and returns the full path.
    std::filesystem::path WriteFile(const std::string& name,
                                    std::span<const std::uint8_t> bytes) const;

private:
    std::filesystem::path path_;
};

}  // namespace korvane::testing
