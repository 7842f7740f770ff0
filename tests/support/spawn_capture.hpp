#pragma once

#include <string>
#include <vector>

namespace korvane::testing {

// What a program printed and how it ended.
struct CapturedRun {
    int exit_status = -1;  // exit code, 128 + signal, or -1 when it could not be run
    std::string out;
    std::string err;
};

// Runs `program` (a path) with `arguments` and this process's environment,
// changed by `environment` entries ("NAME=value" replaces NAME), standard
// input empty, and collects both output streams until it has ended; killed
// after RunProcess's default time-out (support/run_process.hpp, which this
// wraps). Independent of the code under test (its own posix_spawn and poll
// loop).
CapturedRun SpawnCapture(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {});

}  // namespace korvane::testing
