#include "proc/child_process_runner.hpp"

#include <array>
#include <system_error>
#include <utility>

#include "proc/child_text_decoder.hpp"
#include "proc/command_line.hpp"

namespace korvane {
namespace {

// Once woken, a reader takes what the pipe holds at most up to this much (a
// few pipe buffers' worth), so a writer that never stops cannot keep it.
constexpr std::size_t FINAL_DRAIN_LIMIT = 256 * 1024;

}  // namespace

ChildProcessRunner::ChildProcessRunner() : ChildProcessRunner(ChildOutputCodeset()) {}

ChildProcessRunner::ChildProcessRunner(std::string output_codeset)
    : output_codeset_(std::move(output_codeset)) {}

ChildProcessRunner::~ChildProcessRunner() {
    StopChild();
}

bool ChildProcessRunner::StartChild(const std::string& command, bool show_window) {
    if (process_.Valid() || watch_thread_.joinable() || stdout_thread_.joinable() ||
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
    stop_.emplace();
    if (!stop_->Valid()) {
        ReportStartFailure(command);
        return false;
    }
    const auto words = SplitCommandLine(command);
    LaunchedChild child = LaunchChild(words, show_window);
    if (!child.process.Valid()) {
        ReportStartFailure(command);
        return false;
    }
    process_ = std::move(child.process);
    parent_stdin_ = std::move(child.stdin_write);
    parent_stdout_ = std::move(child.stdout_read);
    parent_stderr_ = std::move(child.stderr_read);
    child_running_.store(true);

    try {
        watch_thread_ = std::thread([this, &child = process_] { ExitWatcher(child); });
    } catch (const std::system_error&) {
        // Without a watcher nobody would notice the end: end and reap it here.
        SignalChildGroup(process_, ChildSignal::Kill);
        (void)ReapChild(process_);
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
    start_reader(stdout_thread_, [this, &stop = *stop_] { StdOutReader(parent_stdout_, stop); });
    start_reader(stderr_thread_, [this, &stop = *stop_] { StdErrReader(parent_stderr_, stop); });
    if (!readers_started) {
        StopChild();
        ReportStartFailure(command);
        return false;
    }
    OnChildStarted(command);
    return true;
}

bool ChildProcessRunner::WaitForChildEnd(std::chrono::milliseconds limit) {
    if (!process_.Valid()) {
        return true;
    }
    std::unique_lock lock(state_mutex_);
    return state_changed_.wait_for(lock, limit, [this] { return child_ended_; });
}

void ChildProcessRunner::InterruptChild() const {
    if (process_.Valid() && child_running_.load()) {
        (void)SignalChild(ChildSignal::Interrupt);
    }
}

void ChildProcessRunner::StopChild() {
    if (process_.Valid()) {
        if (!WaitForChildEnd(std::chrono::milliseconds(0))) {
            // Where there is no request to end (Windows) the child is ended at once.
            if (!SignalChild(ChildSignal::Terminate) || !WaitForChildEnd(TERM_GRACE)) {
                (void)SignalChild(ChildSignal::Kill);
                // SIGKILL cannot be refused; the end follows at once.
                std::unique_lock lock(state_mutex_);
                state_changed_.wait(lock, [this] { return child_ended_; });
            }
        }
        // The child is gone but not yet reaped, so its process-group id
        // cannot have passed to anyone else while the group is dealt with.
        if (!WaitForReaders(DRAIN_GRACE)) {
            // Something the child started still holds the pipes.
            (void)SignalChild(ChildSignal::Kill);
            if (!WaitForReaders(DRAIN_GRACE)) {
                // A holder outside the group (one that made a session of its
                // own): take what the pipes hold now and stop waiting.
                stop_->RequestStop();
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
    if (process_.Valid() && !lost) {
        const std::optional<int> status = ReapChild(process_);
        if (status) {
            const std::lock_guard lock(state_mutex_);
            exit_status_ = status;
        }
    }
    ForgetChild();
}

void ChildProcessRunner::ForgetChild() {
    process_ = ChildHandle();
    child_running_.store(false);
    parent_stdin_.Reset();
    parent_stdout_.Reset();
    parent_stderr_.Reset();
    stop_.reset();
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

void ChildProcessRunner::StdOutReader(const UniqueOsHandle& pipe, PipeReadStop& stop) noexcept {
    ReadUntilEnd(pipe, stop, Stream::Out);
}

void ChildProcessRunner::StdErrReader(const UniqueOsHandle& pipe, PipeReadStop& stop) noexcept {
    ReadUntilEnd(pipe, stop, Stream::Err);
}

void ChildProcessRunner::ReadUntilEnd(const UniqueOsHandle& pipe, PipeReadStop& stop,
                                      Stream stream) {
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
    bool stopping = false;
    std::size_t read_after_stop = 0;
    for (;;) {
        // Once stopped, only what the pipe holds now.
        const PipeChunk chunk = ReadPipe(pipe, buffer, stop, !stopping);
        if (chunk.result == PipeRead::Stopped) {
            stopping = true;
            continue;
        }
        if (chunk.result != PipeRead::Data) {
            break;  // end-of-data (every writer has gone), or drained after the stop
        }
        deliver(decoder.Decode({buffer.data(), chunk.size}));
        if (stopping && (read_after_stop += chunk.size) >= FINAL_DRAIN_LIMIT) {
            break;
        }
    }
    deliver(decoder.Flush());
    {
        const std::lock_guard lock(state_mutex_);
        --readers_running_;
    }
    state_changed_.notify_all();
}

void ChildProcessRunner::ExitWatcher(const ChildHandle& child) noexcept {
    const ChildEnd end = WaitForChildExit(child, true);
    {
        const std::lock_guard lock(state_mutex_);
        child_running_.store(false);
        child_ended_ = true;
        child_lost_ = end.lost;
        exit_status_ = end.status;
    }
    state_changed_.notify_all();
    OnChildTerminate();
}

bool ChildProcessRunner::SignalChild(ChildSignal signal) const {
    {
        const std::lock_guard lock(state_mutex_);
        if (child_lost_) {
            return false;
        }
    }
    return SignalChildGroup(process_, signal);
}

bool ChildProcessRunner::WaitForReaders(std::chrono::milliseconds limit) {
    std::unique_lock lock(state_mutex_);
    return state_changed_.wait_for(lock, limit, [this] { return readers_running_ == 0; });
}

void ChildProcessRunner::ReportStartFailure(const std::string& command) {
    OnChildStdErrWrite("Unable to start " + command + "\n");
}

}  // namespace korvane
