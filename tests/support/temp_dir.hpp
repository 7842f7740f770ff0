#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <stdexcept>
#include <string>

namespace korvane::testing {

// A fresh folder under the system's temp dir, owned by one test and removed
// with everything in it when the object goes away.
class TempDir {
public:
    TempDir() {
        std::mt19937_64 random(std::random_device{}());
        for (int attempt = 0; path_.empty(); ++attempt) {
            auto fresh = std::filesystem::temp_directory_path() /
                         ("korvane-" + std::to_string(random() % 1'000'000'000));
            if (std::filesystem::create_directory(fresh)) {  // false: it was there already
                path_ = std::move(fresh);
            } else if (attempt == 100) {
                throw std::runtime_error("no fresh temporary folder");
            }
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& Path() const noexcept { return path_; }
    // Writes `bytes` to Path()/name and returns the full path.
    std::filesystem::path WriteFile(const std::filesystem::path& name,
                                    std::span<const std::uint8_t> bytes) const {
        const auto file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            throw std::runtime_error("cannot write " + file.string());
        }
        return file;
    }
    // Writes an executable /bin/sh script `name` with `body` and returns its
    // path (one word of a command line: temp paths have no blanks).
    std::filesystem::path WriteScript(const std::string& name, const std::string& body) const {
        const std::string text = "#!/bin/sh\n" + body;
        const auto path =
            WriteFile(name, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

private:
    std::filesystem::path path_;
};

}  // namespace korvane::testing
