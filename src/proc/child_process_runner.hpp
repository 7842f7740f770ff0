#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "proc/child_launch.hpp"

namespace korvane {

// Runs one command line as a child with its standard streams on pipes and
// hands what it prints, as UTF-8, to the hooks. Owns the child until it is
// reaped, the parent's pipe ends and three threads (two readers, an exit
// watcher) from StartChild to StopChild. Used from one caller thread, never
// from inside a hook; reusable after StopChild; the destructor stops.
//
// The readers drain their pipe to end-of-data, so the last lines of a child
// that has just ended are not lost. The child leads a group of its own (see
// LaunchChild), so that StopChild can also end what it started, and no shell
// is ever involved. The hooks run on the runner's threads: they must not throw, and a
// subclass that overrides one must call StopChild() in its own destructor.
class ChildProcessRunner {
public:
    static constexpr std::size_t READ_SIZE = 260;
    // After SIGTERM, before SIGKILL (Windows has no SIGTERM: no grace there).
    static constexpr std::chrono::milliseconds TERM_GRACE{500};
    // After the child's end, for the readers to reach end-of-data.
    static constexpr std::chrono::milliseconds DRAIN_GRACE{1000};

    // Decodes from the codeset children write in (ChildOutputCodeset).
    ChildProcessRunner();
    explicit ChildProcessRunner(std::string output_codeset);  // as ChildTextDecoder takes it
    virtual ~ChildProcessRunner();
    ChildProcessRunner(const ChildProcessRunner&) = delete;
    ChildProcessRunner& operator=(const ChildProcessRunner&) = delete;

    // False, after "Unable to start " + command + "\n" to OnChildStdErrWrite,
    // when it cannot start; false also while a child is not yet stopped.
    // Console children on Linux have no window: `show_window` matters on Windows.
    [[nodiscard]] bool StartChild(const std::string& command, bool show_window);
    [[nodiscard]] bool IsChildRunning() const noexcept { return child_running_.load(); }
    // True when the child has ended (or none was started) within `limit`.
    [[nodiscard]] bool WaitForChildEnd(std::chrono::milliseconds limit);
    // SIGINT to the child's group, as Ctrl-C at a terminal (ping then prints
    // its summary): a Ctrl-C meant for this process does not reach that group.
    // Nothing on Windows, which cannot interrupt a child of its own console.
    void InterruptChild() const;
    // Ends a child that still runs (SIGTERM, then SIGKILL; on Windows at once)
    // before it waits for the readers to drain; then joins, reaps and closes.
    // Idempotent.
    void StopChild();
    // Exit status, or 128 + the ending signal (Windows: the exit code, 1 for a
    // child StopChild ended); empty while it runs or if unknown.
    [[nodiscard]] std::optional<int> ChildExitStatus() const;
    // What the default hooks received, in order; complete after StopChild.
    [[nodiscard]] std::string CollectedOutput() const;

protected:
    virtual void OnChildStarted(const std::string& command);  // caller's thread
    virtual void OnChildStdOutWrite(std::string_view text) noexcept;
    virtual void OnChildStdErrWrite(std::string_view text) noexcept;
    virtual void OnChildTerminate() noexcept;  // once, on the exit watcher

private:
    enum class Stream { Out, Err };

    void StdOutReader(const UniqueOsHandle& pipe, PipeReadStop& stop) noexcept;
    void StdErrReader(const UniqueOsHandle& pipe, PipeReadStop& stop) noexcept;
    void ReadUntilEnd(const UniqueOsHandle& pipe, PipeReadStop& stop, Stream stream);
    void ExitWatcher(const ChildHandle& child) noexcept;

    // False when there is no such signal here, or the child is not ours to signal.
    bool SignalChild(ChildSignal signal) const;
    [[nodiscard]] bool WaitForReaders(std::chrono::milliseconds limit);
    void ReportStartFailure(const std::string& command);
    // Once the child has been reaped (or never ran): no pid, no pipes, not running.
    void ForgetChild();

    const std::string output_codeset_;

    // Written by the caller's thread only, while no thread runs; the threads
    // read the child, their pipe and the stop, which outlive them.
    ChildHandle process_;  // the child, until reaped
    UniqueOsHandle parent_stdin_;
    UniqueOsHandle parent_stdout_;
    UniqueOsHandle parent_stderr_;
    std::optional<PipeReadStop> stop_;  // ends the readers' waits; one per child
    std::thread stdout_thread_;
    std::thread stderr_thread_;
    std::thread watch_thread_;

    std::atomic<bool> child_running_{false};

    // Hand-over between the threads and the caller.
    mutable std::mutex state_mutex_;
    std::condition_variable state_changed_;
    bool child_ended_ = false;
    bool child_lost_ = false;  // reaped by someone else: never signal or wait for its pid
    int readers_running_ = 0;
    std::optional<int> exit_status_;

    // The one lock around CollectedOutput: appends of the two readers never mix.
    mutable std::mutex output_mutex_;
    std::string collected_output_;
};

}  // namespace korvane
