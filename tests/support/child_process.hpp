#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "proc/child_launch.hpp"

namespace korvane::testing {

struct ProcessResult {
    int exit_code =
        -1;  // or 128 + the signal that ended it (137: killed at the time-out; 1 on Windows)
    std::string out;  // what it wrote to standard output
    std::string err;  // what it wrote to standard error
};

// The one way tests run a program: started as the product starts its children
// (LaunchChild: PATH lookup, no shell, a group of its own), `input` on stdin,
// stdout and stderr read by line or to the end with time-outs (a reader
// thread each); folder and variables through `env -C DIR NAME=VALUE
// PROGRAM...` on POSIX. Owned by one test thread; the destructor kills and
// reaps the group of a child not yet reaped.
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
    // SIGINT or SIGTERM to the child's group (SignalChildGroup: nothing on
    // Windows, which has neither); any other number kills it.
    void Signal(int signal_number) const;
    // Reads both streams to their end and waits for the exit, at most
    // `timeout`, then kills the process group. The result holds what
    // WaitForLine had not taken yet.
    [[nodiscard]] ProcessResult Finish(std::chrono::milliseconds timeout);
    [[nodiscard]] std::int64_t Pid() const noexcept { return child_.Id(); }

private:
    // The reader thread of one stream: appends to pending_ until its end.
    void Read(std::size_t stream) noexcept;
    // Once the child has been reaped: stops the readers and joins them.
    void StopReaders();

    ChildHandle child_;
    std::optional<int> exit_code_;  // once reaped
    std::array<UniqueOsHandle, 2> pipes_;
    PipeReadStop stop_;
    std::mutex mutex_;  // pending_ and ended_, between the readers and the test
    std::condition_variable changed_;
    std::array<std::string, 2> pending_;
    std::array<bool, 2> ended_{};
    std::array<std::thread, 2> readers_;
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
