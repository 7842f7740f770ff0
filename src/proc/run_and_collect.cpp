#include "proc/run_and_collect.hpp"

#include "proc/child_process_runner.hpp"

namespace korvane {

RunOutcome RunAndCollect(std::string command, std::string& output,
                         std::chrono::milliseconds limit) {
    ChildProcessRunner runner;
    RunOutcome outcome;
    // On failure the runner's text already says "Unable to start ...".
    outcome.started = runner.StartChild(command, false);
    if (outcome.started) {
        outcome.timed_out = !runner.WaitForChildEnd(limit);
    }
    runner.StopChild();
    outcome.exit_status = runner.ChildExitStatus();
    output = runner.CollectedOutput();
    return outcome;
}

}  // namespace korvane
