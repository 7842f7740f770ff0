#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

struct ProcessOptions {
    // Variables set (or replaced) in the child's environment, which otherwise
    // is this process's.
    std::map<std::string, std::string> set_env;
    // Variables removed from the child's environment.
    std::vector<std::string> unset_env;
    // The child's standard input, read to its end; without it the child reads
    // /dev/null.
    std::optional<std::string> stdin_text;
    // The child's working directory; this process's when empty.
    std::filesystem::path working_directory;
    // How long RunProcess lets the child run before it kills its process group.
    std::chrono::milliseconds timeout{30'000};
};

struct ProcessResult {
    int exit_code = -1;      // the child's exit status; -1 when it did not exit by itself
    int term_signal = 0;     // the signal that ended it, 0 when it exited
    bool timed_out = false;  // killed because it outlived the timeout
    std::string out;         // what it wrote to standard output
    std::string err;         // what it wrote to standard error
    double seconds = 0;      // from its start until it had ended and its output was in
};

// Runs argv[0] (looked up on PATH when it has no slash) with the arguments,
// without a shell, as ChildProcess(argv, options).Finish(options.timeout).
// Throws std::runtime_error when the child cannot be started.
[[nodiscard]] ProcessResult RunProcess(const std::vector<std::string>& argv,
                                       const ProcessOptions& options = {});

// Path of one of the project's programs in the build's bin folder.
[[nodiscard]] std::string BinPath(const std::string& name);

// Runs the build's korvane-cli with `args`, as RunProcess does.
[[nodiscard]] ProcessResult RunCli(const std::vector<std::string>& args,
                                   const ProcessOptions& options = {});

// Splits text into lines at '\n'; a final line without '\n' counts as a line.
[[nodiscard]] std::vector<std::string> SplitLines(const std::string& text);

}  // namespace korvane::testing
