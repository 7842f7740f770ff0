#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.hpp"

namespace korvane::testing {

struct ProcessResult {
    int exit_code = -1;  // or 128 + the signal that ended it (137: killed at the time-out)
    std::string out;     // what it wrote to standard output
    std::string err;     // what it wrote to standard error
};

// The one way tests run a program: started as the product starts its children
// (LaunchChild: PATH lookup, no shell, a process group of its own), `input` on
// stdin, stdout and stderr read by line or to the end with time-outs; folder
// and variables through `env -C DIR NAME=VALUE PROGRAM...`. Owned by one test
// thread; the destructor kills and reaps the group of a child not yet reaped.
class ChildProcess {
public:
    enum class Stream { Out = 0, Err = 1 };

    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::optional<std::string>& input = std::nullopt);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads lines of `stream` until one contains `text` and returns it without
    // its line feed; nothing on time-out or at the end of the output.
    [[nodiscard]] std::optional<std::string> WaitForLine(Stream stream, std::string_view text,
                                                         std::chrono::milliseconds timeout);
    // Sends a signal to the child alone.
    void Signal(int signal_number) const;
    // Reads both streams to their end and waits for the exit, at most
    // `timeout`, then kills the process group. The result holds what
    // WaitForLine had not taken yet.
    [[nodiscard]] ProcessResult Finish(std::chrono::milliseconds timeout);
    [[nodiscard]] pid_t Pid() const noexcept { return pid_; }

private:
    // Reads once from each pipe (or only `only`'s) that has data before
    // `deadline`, closing a pipe at its end; false when none had.
    bool Fill(std::optional<std::size_t> only, std::chrono::steady_clock::time_point deadline);
    // Takes the exit status once the child has ended; true when it has.
    bool Reap(int flags);

    pid_t pid_ = -1;
    std::optional<int> exit_code_;
    std::array<UniqueFd, 2> pipes_;
    std::array<std::string, 2> pending_;
};

// ChildProcess(argv, input).Finish(timeout).
[[nodiscard]] ProcessResult RunProcess(
    const std::vector<std::string>& argv, const std::optional<std::string>& input = std::nullopt,
    std::chrono::milliseconds timeout = std::chrono::seconds(30));
// Path of one of the project's programs in the build's bin folder.
[[nodiscard]] std::string BinPath(const std::string& name);
// Splits text into lines at '\n'; a final line without '\n' counts as a line.
[[nodiscard]] std::vector<std::string> SplitLines(const std::string& text);
// Asks `done` every 10 ms until it is true, at most `limit`; its last answer.
[[nodiscard]] bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

}  // namespace korvane::testing
