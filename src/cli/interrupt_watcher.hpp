#pragma once

#include <signal.h>

#include <functional>
#include <memory>

namespace korvane::cli {

// Turns an interrupt into a call of `on_signal` outside of any signal
// context, and records the first one. On POSIX: SIGINT (Ctrl-C) and SIGTERM,
// held back in the calling thread, which every thread made later inherits,
// and read from a signalfd on a thread of the watch's own; make it on the
// main thread before any other thread of the process. On Windows: the
// console's Ctrl-C and Ctrl-Break (as SIGINT) and its close, log-off and
// shut-down (as SIGTERM), through a console control handler, which the
// system calls on a thread of its own. It lives for the command; when it goes
// away (after its thread is joined) the signals act as before it.
//
// When the watch cannot be set up, the signals end the program as usual and
// one line on stderr says so.
class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> on_signal);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // The first signal that arrived (SIGINT or SIGTERM); 0 while none has.
    [[nodiscard]] int Signal() const noexcept;

private:
    struct State;  // the platform's watch
    std::unique_ptr<State> state_;
};

// The exit code of a command that `signal_number` cut short: 128 + the
// signal, as a shell reports a program the signal ended (130 for SIGINT,
// 143 for SIGTERM).
[[nodiscard]] constexpr int ExitCodeAfterSignal(int signal_number) noexcept {
    return 128 + signal_number;
}

}  // namespace korvane::cli
