#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.hpp"
#include "support/run_process.hpp"

namespace korvane::testing {

// The one way tests run a program: argv[0] (looked up on PATH when it has no
// slash) started with posix_spawn, without a shell, leading a process group of
// its own, with default signal handling, the options' environment, folder and
// standard input, and stdout and stderr each on a pipe that the test reads
// line by line or to the end, with time-outs. Owned by one test thread; the
// destructor kills the process group of a child not yet reaped and reaps it,
// so no test leaves a process behind.
class ChildProcess {
public:
    enum class Stream { Out = 0, Err = 1 };

    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next whole line of `stream` without its line feed (at the end of
    // the output, what is left); nothing on time-out or when all was read.
    [[nodiscard]] std::optional<std::string> ReadLine(Stream stream,
                                                      std::chrono::milliseconds timeout);
    // Reads lines until one contains `text` and returns it; nothing on
    // time-out or at the end of the output. Lines passed over are in Seen().
    [[nodiscard]] std::optional<std::string> WaitForLine(Stream stream, std::string_view text,
                                                         std::chrono::milliseconds timeout);
    // Everything that stream still has, up to its end or the time-out.
    [[nodiscard]] std::string ReadRest(Stream stream, std::chrono::milliseconds timeout);
    // Every line ReadLine has returned so far on `stream`.
    [[nodiscard]] const std::vector<std::string>& Seen(Stream stream) const {
        return channels_[Index(stream)].seen;
    }

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
        std::vector<std::string> seen;
    };
    static constexpr std::size_t Index(Stream stream) noexcept {
        return static_cast<std::size_t>(stream);
    }
    // Waits until `only` (both channels when null) has something to read, at
    // most until `deadline`, and reads once from each that has; `ended` at
    // end of data or on an error. False when nothing was readable.
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

}  // namespace korvane::testing
