#include "support/child_scripts.hpp"

#include <thread>

namespace korvane::testing {

std::filesystem::path WriteScript(const TempDir& dir, const std::string& name,
                                  const std::string& body) {
    const std::string text = "#!/bin/sh\n" + body;
    const auto path =
        dir.WriteFile(name, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

int CountOpenFds() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace korvane::testing
