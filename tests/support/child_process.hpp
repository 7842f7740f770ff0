#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.hpp"

namespace korvane::testing {

struct ProcessOptions {
    std::map<std::string, std::string> set_env;  // set over this process's environment
    std::optional<std::string> stdin_text;       // the child's input; /dev/null without it
    std::filesystem::path working_directory;     // this process's when empty
    std::chrono::milliseconds timeout{30'000};   // then RunProcess kills its group
};

struct ProcessResult {
    int exit_code = -1;      // the child's exit status; -1 when it did not exit by itself
    bool timed_out = false;  // killed because it outlived the timeout
    std::string out;         // what it wrote to standard output
    std::string err;         // what it wrote to standard error
    double seconds = 0;      // from its start until it had ended and its output was in
};

// The one way tests run a program: argv[0] (looked up on PATH when it has no
// slash) started without a shell, leading a process group of its own, with
// default signal handling, the options' environment, folder and input, and
// stdout and stderr on pipes read by line or to the end, with time-outs.
// Owned by one test thread; the destructor kills and reaps the process group
// of a child not yet reaped, so no test leaves a process behind.
class ChildProcess {
public:
    enum class Stream { Out = 0, Err = 1 };

    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~ChildProcess();

    // The next whole line of `stream` without its line feed (at the end of
    // the output, what is left); nothing on time-out or when all was read.
    [[nodiscard]] std::optional<std::string> ReadLine(Stream stream,
                                                      std::chrono::milliseconds timeout);
    // Reads lines until one contains `text` and returns it; nothing on
    // time-out or at the end of the output.
    [[nodiscard]] std::optional<std::string> WaitForLine(Stream stream, std::string_view text,
                                                         std::chrono::milliseconds timeout);
    // Everything that stream still has, up to its end or the time-out.
    [[nodiscard]] std::string ReadRest(Stream stream, std::chrono::milliseconds timeout);
    // Sends a signal to the child alone; false once it has been reaped.
    bool Signal(int signal_number) const;
    // The exit code, or 128 + the signal that ended it; nothing on time-out.
    [[nodiscard]] std::optional<int> Wait(std::chrono::milliseconds timeout);
    // Reads both streams to their end and waits for the exit, at most
    // `timeout`; then kills the process group and reports timed_out. The
    // result holds what ReadLine and ReadRest had not taken yet.
    [[nodiscard]] ProcessResult Finish(std::chrono::milliseconds timeout);
    [[nodiscard]] pid_t Pid() const noexcept { return pid_; }

private:
    struct Channel {
        UniqueFd fd;
        std::string pending;
        bool ended = false;
    };
    Channel& Of(Stream stream) noexcept { return channels_[static_cast<std::size_t>(stream)]; }
    // Reads once from each of `only` (both when null) that has data before
    // `deadline`; `ended` at end of data or an error. False if none had.
    bool Fill(Channel* only, std::chrono::steady_clock::time_point deadline);
    // Takes the exit status if the child has ended; true once it has.
    bool Reap(bool block = false);
    // Kills the child and everything in its process group.
    void KillGroup() const;

    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point started_;
    std::optional<int> raw_status_;  // as waitpid reports it
    std::array<Channel, 2> channels_;
};

// ChildProcess(argv, options).Finish(options.timeout).
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
