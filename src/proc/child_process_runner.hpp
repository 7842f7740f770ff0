#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "base/unique_fd.hpp"

namespace korvane {

// Runs one console command as a child process with its standard input,
// output and error on pipes, and hands what the child prints, as UTF-8 text,
// to overridable hooks; the default hooks gather it all in CollectedOutput().
//
// Owns the child (until it is reaped), the parent's pipe ends and three
// threads that live from StartChild to StopChild: StdOutReader and
// StdErrReader read their pipe in pieces of at most 260 bytes until
// end-of-data, so nothing the child printed before it ended is lost;
// ExitWatcher notices the child's end. The caller's thread (the one that
// calls StartChild, IsChildRunning, WaitForChildEnd and StopChild, never from
// inside a hook) owns the runner; it may be reused after StopChild. The
// destructor runs StopChild.
//
// The command line is split into words on white space (SplitCommandLine) and
// started without a shell. The child leads a process group of its own;
// StopChild ends that whole group if the child still runs, or if members of
// it still hold the output pipes after the child has ended.
//
// The hooks run on the runner's threads, where an exception has nowhere to
// go: they must not throw (they are noexcept).
//
// Subclasses that override a hook must call StopChild() in their own
// destructor: the hooks run on the runner's threads, which must be gone
// before the subclass's part of the object is.
class ChildProcessRunner {
public:
    static constexpr std::size_t READ_SIZE = 260;
    // After SIGTERM, how long the child's process group gets before SIGKILL.
    static constexpr std::chrono::milliseconds TERM_GRACE{500};
    // After the child has ended, how long the readers get to reach
    // end-of-data before whatever still holds the pipes is dealt with.
    static constexpr std::chrono::milliseconds DRAIN_GRACE{1000};
    static constexpr std::chrono::milliseconds FOREVER = std::chrono::hours(24 * 365);

    // Decodes the child's output from the codeset of the environment's
    // locale (ChildOutputCodeset).
    ChildProcessRunner();
    // Decodes the child's output from `output_codeset` (an iconv name).
    explicit ChildProcessRunner(std::string output_codeset);
    virtual ~ChildProcessRunner();
    ChildProcessRunner(const ChildProcessRunner&) = delete;
    ChildProcessRunner& operator=(const ChildProcessRunner&) = delete;

    // Starts the command; true when the child runs (its three threads then
    // run too, and OnChildStarted has been called). On failure the hook
    // OnChildStdErrWrite receives "Unable to start " + command + "\n" and no
    // child or thread exists. `show_window` asks for the child's console to
    // be shown or hidden; console children on Linux have no window of their
    // own, so it has no effect here. False also when a child of this runner
    // has not yet been stopped.
    [[nodiscard]] bool StartChild(const std::string& command, bool show_window);

    // True from a successful start until the child has ended.
    [[nodiscard]] bool IsChildRunning() const noexcept { return child_running_.load(); }

    // Waits until the child has ended, at most `limit` (FOREVER or more: no
    // limit); true when it has (or when there is no child).
    [[nodiscard]] bool WaitForChildEnd(std::chrono::milliseconds limit);

    // Sends SIGINT to the child and its process group, as Ctrl-C at a
    // terminal does to the programs in the foreground (the child leads a
    // group of its own, so a Ctrl-C meant for this process never reaches it
    // by itself). A program such as ping then prints its summary and ends.
    // No effect when no child runs.
    void InterruptChild() const;

    // Ends everything, promptly: a child that still runs is sent SIGTERM
    // with its process group, then SIGKILL after TERM_GRACE; the readers
    // drain their pipes to end-of-data; every thread is joined, the child
    // reaped and every descriptor closed. Safe to call repeatedly and on a
    // runner that never started.
    void StopChild();

    // How the child ended: its exit status, or 128 + the signal that ended
    // it. Empty while it runs, when none was started, or when it could not
    // be learnt.
    [[nodiscard]] std::optional<int> ChildExitStatus() const;

    // Everything the default hooks received, in the order received. Complete
    // once StopChild has returned.
    [[nodiscard]] std::string CollectedOutput() const;

protected:
    // Called once after a successful start, on the caller's thread.
    virtual void OnChildStarted(const std::string& command);
    // Each converted piece of standard output, on the StdOutReader thread.
    virtual void OnChildStdOutWrite(std::string_view text) noexcept;
    // Each converted piece of standard error, on the StdErrReader thread;
    // also the start-failure text, on the caller's thread.
    virtual void OnChildStdErrWrite(std::string_view text) noexcept;
    // Once when the child has ended, on the ExitWatcher thread.
    virtual void OnChildTerminate() noexcept;

private:
    enum class Stream { Out, Err };

    void StdOutReader(int fd, int wake_fd) noexcept;
    void StdErrReader(int fd, int wake_fd) noexcept;
    void ReadUntilEnd(int fd, int wake_fd, Stream stream);
    void ExitWatcher(pid_t pid) noexcept;

    void SignalChildGroup(int signal_number) const;
    [[nodiscard]] bool WaitForReaders(std::chrono::milliseconds limit);
    void WakeReaders() const;
    void ReportStartFailure(const std::string& command);
    // Once the child has been reaped (or never ran): no pid, no pipes, not running.
    void ForgetChild();

    const std::string output_codeset_;

    // Caller's thread only (the threads get copies of what they need).
    pid_t process_ = -1;  // the child, until reaped
    UniqueFd parent_stdin_;
    UniqueFd parent_stdout_;
    UniqueFd parent_stderr_;
    UniqueFd wake_;  // eventfd: made readable to make the readers stop waiting
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
