#include "proc/run_and_collect.hpp"

#include <mutex>

#include "proc/child_process_runner.hpp"

namespace korvane {
namespace {

// Hands the runner's text to the caller's handler; lives for one run.
class StreamingRunner final : public ChildProcessRunner {
public:
    explicit StreamingRunner(const ChildOutputHandler& on_output) : on_output_(on_output) {}
    ~StreamingRunner() override { StopChild(); }
    StreamingRunner(const StreamingRunner&) = delete;
    StreamingRunner& operator=(const StreamingRunner&) = delete;

protected:
    void OnChildStdOutWrite(std::string_view text) noexcept override {
        on_output_(ChildStream::Out, text);
    }
    void OnChildStdErrWrite(std::string_view text) noexcept override {
        on_output_(ChildStream::Err, text);
    }

private:
    const ChildOutputHandler& on_output_;
};

}  // namespace

RunOutcome RunAndStream(const std::string& command, const ChildOutputHandler& on_output,
                        std::chrono::milliseconds limit, const std::function<bool()>& interrupted) {
    StreamingRunner runner(on_output);
    RunOutcome outcome;
    // On failure the handler has already been told "Unable to start ...".
    outcome.started = runner.StartChild(command, false);
    if (outcome.started && !interrupted) {
        outcome.timed_out = !runner.WaitForChildEnd(limit);
    } else if (outcome.started) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        bool ended = false;
        while (!(ended = runner.WaitForChildEnd(RUN_AND_COLLECT_CHECK)) &&
               std::chrono::steady_clock::now() < deadline) {
            if (interrupted()) {
                outcome.interrupted = true;
                runner.InterruptChild();
                ended = runner.WaitForChildEnd(INTERRUPT_GRACE);
                break;
            }
        }
        outcome.timed_out = !ended && !outcome.interrupted;
    }
    runner.StopChild();
    outcome.exit_status = runner.ChildExitStatus();
    return outcome;
}

CollectedRun RunAndCollect(const std::string& command, std::chrono::milliseconds limit) {
    std::mutex mutex;  // the two readers append at the same moment
    std::string collected;
    CollectedRun run{RunAndStream(
        command,
        [&](ChildStream /*stream*/, std::string_view text) {
            const std::lock_guard lock(mutex);
            collected.append(text);
        },
        limit)};
    run.output = std::move(collected);
    return run;
}

}  // namespace korvane
