#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// How long RunAndCollect lets a command run before it ends it.
inline constexpr std::chrono::milliseconds RUN_AND_COLLECT_LIMIT{60'000};

// How often RunAndStream asks `interrupted` whether the operator wants to stop.
inline constexpr std::chrono::milliseconds RUN_AND_COLLECT_CHECK{100};

// After an interrupt, how long the command gets to end by itself (ping
// prints its statistics) before it is ended.
inline constexpr std::chrono::milliseconds INTERRUPT_GRACE{1000};

struct RunOutcome {
    bool started = false;            // false: the text says "Unable to start ..."
    bool timed_out = false;          // the command was still running at the limit and was ended
    bool interrupted = false;        // `interrupted` said to stop while the command ran
    std::optional<int> exit_status;  // as ChildProcessRunner::ChildExitStatus
};

enum class ChildStream { Out, Err };

// Takes each piece of text a command prints, as UTF-8, as soon as it is read:
// on the runner's reader threads (the two streams may call it at the same
// moment), and the start-failure text "Unable to start ..." on the caller's
// thread (as ChildStream::Err). Must not throw.
using ChildOutputHandler = std::function<void(ChildStream stream, std::string_view text)>;

// Runs one command line (split on white space, no shell) through a
// ChildProcessRunner, hands what it prints to `on_output` as it comes and
// waits until it has ended, at most `limit`; a command still running then is
// ended with its process group (the readers still drain the pipes). When
// `interrupted` (asked every RUN_AND_COLLECT_CHECK) says so, the command is
// interrupted as by Ctrl-C (ChildProcessRunner::InterruptChild) and gets
// INTERRUPT_GRACE to end by itself before it is ended. Blocks the calling
// thread for the whole run.
RunOutcome RunAndStream(const std::string& command, const ChildOutputHandler& on_output,
                        std::chrono::milliseconds limit = RUN_AND_COLLECT_LIMIT,
                        const std::function<bool()>& interrupted = {});

// RunAndStream with everything the command printed on both streams, in the
// order read, kept in `output`.
struct CollectedRun : RunOutcome {
    std::string output;
};
[[nodiscard]] CollectedRun RunAndCollect(const std::string& command,
                                         std::chrono::milliseconds limit = RUN_AND_COLLECT_LIMIT);

}  // namespace korvane
