#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace korvane {

// How long RunAndCollect lets a command run before it ends it.
inline constexpr std::chrono::milliseconds RUN_AND_COLLECT_LIMIT{60'000};

struct RunOutcome {
    bool started = false;            // false: the text says "Unable to start ..."
    bool timed_out = false;          // the command was still running at the limit and was ended
    std::optional<int> exit_status;  // as ChildProcessRunner::ChildExitStatus
};

// How often RunAndCollect asks `cut_short` whether to stop waiting.
inline constexpr std::chrono::milliseconds RUN_AND_COLLECT_CHECK{100};

// Runs one command line (split on white space, no shell) through a
// ChildProcessRunner, waits until it has ended, at most `limit`, or until
// `cut_short` (asked every RUN_AND_COLLECT_CHECK) says to stop; a command
// still running then is ended, with its process group, and what it printed so
// far is kept. Everything it printed on both streams goes, as UTF-8, into
// `output`. Blocks the calling thread for the whole run.
RunOutcome RunAndCollect(std::string command, std::string& output,
                         std::chrono::milliseconds limit = RUN_AND_COLLECT_LIMIT,
                         const std::function<bool()>& cut_short = {});

}  // namespace korvane
