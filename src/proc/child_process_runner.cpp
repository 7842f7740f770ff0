#include "proc/child_process_runner.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

#include "proc/child_launch.hpp"
#include "proc/child_text_decoder.hpp"
#include "proc/command_line.hpp"

namespace korvane {
namespace {

// Once woken, a reader takes what the pipe holds at most up to this much (a
// few pipe buffers' worth), so a writer that never stops cannot keep it.
constexpr std::size_t FINAL_DRAIN_LIMIT = 256 * 1024;

// Shell convention: the exit status, or 128 + the signal that ended the child.
std::optional<int> StatusFromWaitStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return std::nullopt;
}

std::optional<int> StatusFromSignalInfo(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED)
        return info.si_status;
    if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)
        return 128 + info.si_status;
    return std::nullopt;
}

}  // namespace

ChildProcessRunner::ChildProcessRunner() : ChildProcessRunner(ChildOutputCodeset()) {}

ChildProcessRunner::ChildProcessRunner(std::string output_codeset)
    : output_codeset_(std::move(output_codeset)) {}

ChildProcessRunner::~ChildProcessRunner() {
    StopChild();
}

bool ChildProcessRunner::StartChild(const std::string& command, bool /*show_window*/) {
    if (process_ >= 0 || watch_thread_.joinable() || stdout_thread_.joinable() ||
        stderr_thread_.joinable()) {
        return false;
    }
    {
        const std::lock_guard lock(state_mutex_);
        child_ended_ = false;
        child_lost_ = false;
        readers_running_ = 0;
        exit_status_.reset();
    }
    wake_.emplace();
    if (!wake_->Valid()) {
        ReportStartFailure(command);
        return false;
    }
    const auto words = SplitCommandLine(command);
    LaunchedChild child = LaunchChild(words);
    if (child.pid < 0) {
        ReportStartFailure(command);
        return false;
    }
    process_ = child.pid;
    parent_stdin_ = std::move(child.stdin_write);
    parent_stdout_ = std::move(child.stdout_read);
    parent_stderr_ = std::move(child.stderr_read);
    child_running_.store(true);

    try {
        watch_thread_ = std::thread([this, pid = process_] { ExitWatcher(pid); });
    } catch (const std::system_error&) {
        // Without a watcher nobody would notice the end: end and reap it here.
        SignalChildGroup(SIGKILL);
        int status = 0;
        while (::waitpid(process_, &status, 0) < 0 && errno == EINTR) {
        }
        ForgetChild();
        ReportStartFailure(command);
        return false;
    }
    bool readers_started = true;
    const auto start_reader = [&](std::thread& thread, auto body) {
        {
            const std::lock_guard lock(state_mutex_);
            ++readers_running_;
        }
        try {
            thread = std::thread(body);
        } catch (const std::system_error&) {
            const std::lock_guard lock(state_mutex_);
            --readers_running_;
            readers_started = false;
        }
    };
    start_reader(stdout_thread_,
                 [this, fd = parent_stdout_.Get(), &wake = *wake_] { StdOutReader(fd, wake); });
    start_reader(stderr_thread_,
                 [this, fd = parent_stderr_.Get(), &wake = *wake_] { StdErrReader(fd, wake); });
    if (!readers_started) {
        StopChild();
        ReportStartFailure(command);
        return false;
    }
    OnChildStarted(command);
    return true;
}

bool ChildProcessRunner::WaitForChildEnd(std::chrono::milliseconds limit) {
    if (process_ < 0) {
        return true;
    }
    std::unique_lock lock(state_mutex_);
    return state_changed_.wait_for(lock, limit, [this] { return child_ended_; });
}

void ChildProcessRunner::InterruptChild() const {
    if (process_ >= 0 && child_running_.load()) {
        SignalChildGroup(SIGINT);
    }
}

void ChildProcessRunner::StopChild() {
    if (process_ >= 0) {
        if (!WaitForChildEnd(std::chrono::milliseconds(0))) {
            SignalChildGroup(SIGTERM);
            if (!WaitForChildEnd(TERM_GRACE)) {
                SignalChildGroup(SIGKILL);
                // SIGKILL cannot be refused; the end follows at once.
                std::unique_lock lock(state_mutex_);
                state_changed_.wait(lock, [this] { return child_ended_; });
            }
        }
        // The child is gone but not yet reaped, so its process-group id
        // cannot have passed to anyone else while the group is dealt with.
        if (!WaitForReaders(DRAIN_GRACE)) {
            // Something the child started still holds the pipes.
            SignalChildGroup(SIGKILL);
            if (!WaitForReaders(DRAIN_GRACE)) {
                // A holder outside the group (one that made a session of its
                // own): take what the pipes hold now and stop waiting.
                wake_->Set();
            }
        }
    }
    for (std::thread* thread : {&stdout_thread_, &stderr_thread_, &watch_thread_}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
    bool lost = false;
    {
        const std::lock_guard lock(state_mutex_);
        lost = std::exchange(child_lost_, false);
    }
    if (process_ >= 0 && !lost) {
        int status = 0;
        pid_t reaped = -1;
        do {
            reaped = ::waitpid(process_, &status, 0);
        } while (reaped < 0 && errno == EINTR);
        if (reaped == process_) {
            const std::lock_guard lock(state_mutex_);
            exit_status_ = StatusFromWaitStatus(status);
        }
    }
    ForgetChild();
}

void ChildProcessRunner::ForgetChild() {
    process_ = -1;
    child_running_.store(false);
    parent_stdin_.Reset();
    parent_stdout_.Reset();
    parent_stderr_.Reset();
    wake_.reset();
}

std::optional<int> ChildProcessRunner::ChildExitStatus() const {
    const std::lock_guard lock(state_mutex_);
    return exit_status_;
}

std::string ChildProcessRunner::CollectedOutput() const {
    const std::lock_guard lock(output_mutex_);
    return collected_output_;
}

void ChildProcessRunner::OnChildStarted(const std::string& /*command*/) {}

void ChildProcessRunner::OnChildStdOutWrite(std::string_view text) noexcept {
    const std::lock_guard lock(output_mutex_);
    collected_output_.append(text);
}

void ChildProcessRunner::OnChildStdErrWrite(std::string_view text) noexcept {
    const std::lock_guard lock(output_mutex_);
    collected_output_.append(text);
}

void ChildProcessRunner::OnChildTerminate() noexcept {}

void ChildProcessRunner::StdOutReader(int fd, const WakeEvent& wake) noexcept {
    ReadUntilEnd(fd, wake, Stream::Out);
}

void ChildProcessRunner::StdErrReader(int fd, const WakeEvent& wake) noexcept {
    ReadUntilEnd(fd, wake, Stream::Err);
}

void ChildProcessRunner::ReadUntilEnd(int fd, const WakeEvent& wake, Stream stream) {
    const auto deliver = [this, stream](const std::string& text) {
        if (text.empty()) {
            return;  // only the start of a character so far
        }
        if (stream == Stream::Out) {
            OnChildStdOutWrite(text);
        } else {
            OnChildStdErrWrite(text);
        }
    };
    ChildTextDecoder decoder(output_codeset_);
    std::array<char, READ_SIZE> buffer{};
    bool woken = false;
    std::size_t read_after_wake = 0;
    for (;;) {
        if (!woken) {
            const WaitResult ready = WaitForEither(fd, wake, NO_TIME_LIMIT);
            if (ready == WaitResult::Failed) {
                break;
            }
            woken = ready == WaitResult::Woken;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            deliver(decoder.Decode({buffer.data(), static_cast<std::size_t>(n)}));
            if (woken && (read_after_wake += static_cast<std::size_t>(n)) >= FINAL_DRAIN_LIMIT) {
                break;
            }
            continue;
        }
        if (n == 0) {
            break;  // end-of-data: every writer has gone
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (woken)
                break;  // drained what there was
            continue;
        }
        break;  // a read error ends the stream like end-of-data
    }
    deliver(decoder.Flush());
    {
        const std::lock_guard lock(state_mutex_);
        --readers_running_;
    }
    state_changed_.notify_all();
}

void ChildProcessRunner::ExitWatcher(pid_t pid) noexcept {
    // WNOWAIT leaves the child a zombie: its pid (and so its process-group id)
    // stays reserved until StopChild reaps it.
    siginfo_t info{};
    int result = -1;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    } while (result < 0 && errno == EINTR);
    {
        const std::lock_guard lock(state_mutex_);
        child_running_.store(false);
        child_ended_ = true;
        if (result == 0) {
            exit_status_ = StatusFromSignalInfo(info);
        } else {
            // Reaped behind our back (SIGCHLD set to be ignored): the pid may
            // already belong to someone else.
            child_lost_ = true;
        }
    }
    state_changed_.notify_all();
    OnChildTerminate();
}

void ChildProcessRunner::SignalChildGroup(int signal_number) const {
    {
        const std::lock_guard lock(state_mutex_);
        if (child_lost_) {
            return;
        }
    }
    // The group takes the child's descendants with it. The child is named
    // apart only when it has left the group it was started in: a second copy
    // of an interrupt would be handled twice (ping printing its summary twice).
    (void)::killpg(process_, signal_number);
    if (::getpgid(process_) != process_) {
        (void)::kill(process_, signal_number);
    }
}

bool ChildProcessRunner::WaitForReaders(std::chrono::milliseconds limit) {
    std::unique_lock lock(state_mutex_);
    return state_changed_.wait_for(lock, limit, [this] { return readers_running_ == 0; });
}

void ChildProcessRunner::ReportStartFailure(const std::string& command) {
    OnChildStdErrWrite("Unable to start " + command + "\n");
}

}  // namespace korvane
