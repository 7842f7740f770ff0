#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "support/temp_dir.hpp"

namespace korvane::testing {

// Writes an executable /bin/sh script `name` with `body` into `dir` and
// returns its path (one word of a command line: temp paths have no blanks).
inline std::filesystem::path WriteScript(const TempDir& dir, const std::string& name,
                                         const std::string& body) {
    const std::string text = "#!/bin/sh\n" + body;
    const auto path =
        dir.WriteFile(name, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

// Number of descriptors this process has open.
inline int CountOpenFds() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

// Calls `done` every 10 ms until it is true, at most `limit`; its last answer.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

}  // namespace korvane::testing
