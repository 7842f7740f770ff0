#pragma once

#include <sys/types.h>

#include <span>
#include <string>

#include "base/unique_fd.hpp"

namespace korvane {

// A child just started by LaunchChild, and the parent's ends of its three
// pipes. The child's own ends are already closed in this process, so the
// output pipes reach end-of-data as soon as the child (and whatever inherited
// them from it) has gone.
struct LaunchedChild {
    pid_t pid = -1;        // -1: not started
    int error = 0;         // errno of the failure when not started
    UniqueFd stdin_write;  // nothing is written; kept open so stdin does not end early
    UniqueFd stdout_read;  // non-blocking
    UniqueFd stderr_read;  // non-blocking
};

// Starts words[0] (searched in PATH when it has no slash, like execvp) with
// the arguments words[1...], the caller's environment and current folder, and
// its standard input, output and error on three fresh pipes. No shell is
// involved. The child leads a process group of its own, so that it and every
// process it starts can be ended together, has an empty signal mask and the
// default handling of the signals a parent commonly ignores. Every descriptor
// made here is close-on-exec from its creation, so no other child started at
// the same moment by another thread inherits any of them; and the child gets
// no descriptor but its three standard ones, whatever else this process has
// open. Thread-safe.
[[nodiscard]] LaunchedChild LaunchChild(std::span<const std::string> words);

}  // namespace korvane
