#include "proc/run_and_collect.hpp"

#include "proc/child_process_runner.hpp"

namespace korvane {

RunOutcome RunAndCollect(std::string command, std::string& output, std::chrono::milliseconds limit,
                         const std::function<bool()>& cut_short) {
    ChildProcessRunner runner;
    RunOutcome outcome;
    // On failure the runner's text already says "Unable to start ...".
    outcome.started = runner.StartChild(command, false);
    if (outcome.started && !cut_short) {
        outcome.timed_out = !runner.WaitForChildEnd(limit);
    } else if (outcome.started) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        bool ended = false;
        while (!(ended = runner.WaitForChildEnd(RUN_AND_COLLECT_CHECK)) && !cut_short() &&
               std::chrono::steady_clock::now() < deadline) {
        }
        outcome.timed_out = !ended && std::chrono::steady_clock::now() >= deadline;
    }
    runner.StopChild();
    outcome.exit_status = runner.ChildExitStatus();
    output = runner.CollectedOutput();
    return outcome;
}

}  // namespace korvane
