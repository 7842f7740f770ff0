#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace korvane::testing {

// How a child program ended and what it printed.
struct ProgramResult {
    int exit_code = -1;  // -1 when it did not exit by itself
    int signal = 0;      // the signal that ended it, if any
    bool timed_out = false;
    std::string out;
    std::string err;
    double seconds = 0;
};

// One run of a program (no shell), its stdout and stderr going to files of
// its own. Waits for the child when it goes away (killing it first if needed).
class RunningProgram {
public:
    RunningProgram(const std::string& program, const std::vector<std::string>& args);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    void Signal(int signal_number) const;
    // Waits at most `timeout`; then kills the child and reports timed_out.
    ProgramResult Wait(std::chrono::milliseconds timeout);

private:
    TempDir dir_;
    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point started_;
};

// Runs `program` to its end (at most `timeout`).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Path of one of the project's programs in the build's bin folder.
std::string BinPath(const std::string& name);

}  // namespace korvane::testing
