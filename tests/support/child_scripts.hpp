#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "support/temp_dir.hpp"

namespace korvane::testing {

// Writes an executable /bin/sh script `name` with `body` into `dir` and
// returns its path (temp dirs have no white space in their paths, so the path
// is one word of a command line).
std::filesystem::path WriteScript(const TempDir& dir, const std::string& name,
                                  const std::string& body);

// Number of descriptors this process has open.
int CountOpenFds();

// Calls `done` every 10 ms until it is true, at most `limit`; its last answer.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

}  // namespace korvane::testing
