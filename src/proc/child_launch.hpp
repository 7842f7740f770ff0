#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <mutex>
#include <vector>
#else
#include <sys/types.h>

#include "base/wake_event.hpp"
#endif

// The operating system's side of running a child: starting it with its
// standard streams on pipes, reading those pipes, waiting for its end and
// ending it (child_launch_posix.cpp: posix_spawn, a process group, signals;
// child_launch_win32.cpp: CreateProcessW, a job object, TerminateJobObject).
// ChildProcessRunner and the tests' ChildProcess are one code above it.
namespace korvane {

// Owns one handle of the system: a pipe end, or on Windows a process or job
// (a descriptor on POSIX, a HANDLE on Windows). Move-only; closes it when it
// goes away. One owner at a time.
class UniqueOsHandle {
public:
#ifdef _WIN32
    using Native = void*;  // HANDLE
    static constexpr Native NONE = nullptr;
#else
    using Native = int;
    static constexpr Native NONE = -1;
#endif

    UniqueOsHandle() = default;
    explicit UniqueOsHandle(Native handle) noexcept : handle_(handle) {}
    UniqueOsHandle(const UniqueOsHandle&) = delete;
    UniqueOsHandle& operator=(const UniqueOsHandle&) = delete;
    UniqueOsHandle(UniqueOsHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueOsHandle& operator=(UniqueOsHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~UniqueOsHandle() {
        Reset();
    }

    [[nodiscard]] Native Get() const noexcept {
        return handle_;
    }
    [[nodiscard]] bool Valid() const noexcept {
        return handle_ != NONE;
    }
    explicit operator bool() const noexcept {
        return Valid();
    }
    [[nodiscard]] Native Release() noexcept {
        return std::exchange(handle_, NONE);
    }
    void Reset(Native handle = NONE) noexcept;

private:
    Native handle_ = NONE;
};

// A child started by LaunchChild, until it is reaped (ReapChild) or the
// handle goes away. Move-only; owned by the caller's thread, read by others.
class ChildHandle {
public:
    ChildHandle() = default;
    ChildHandle(ChildHandle&& other) noexcept;
    ChildHandle& operator=(ChildHandle&& other) noexcept;
    ChildHandle(const ChildHandle&) = delete;
    ChildHandle& operator=(const ChildHandle&) = delete;
    ~ChildHandle();

    [[nodiscard]] bool Valid() const noexcept;
    // The system's process id (for the operator and for tools such as pgrep).
    [[nodiscard]] std::int64_t Id() const noexcept;

private:
    friend struct ChildAccess;  // the platform file
#ifdef _WIN32
    UniqueOsHandle process_;
    UniqueOsHandle job_;  // holds the child and all it starts; may be missing
    unsigned long id_ = 0;
#else
    pid_t pid_ = -1;  // leads a process group of the same id
#endif
};

// A child just started, and the parent's ends of its three pipes. The child's
// own ends are already closed in this process, so the output pipes reach
// end-of-data as soon as the child (and whatever inherited them from it) has
// gone.
struct LaunchedChild {
    ChildHandle process;         // not Valid(): not started
    std::error_code error;       // why it did not start
    UniqueOsHandle stdin_write;  // nothing is written; kept open so stdin does not end early
    UniqueOsHandle stdout_read;  // read with ReadPipe
    UniqueOsHandle stderr_read;  // read with ReadPipe
};

// Starts words[0] (searched as the system searches for a program: PATH on
// POSIX; on Windows the program's folder, the current one, the system's and
// PATH, ".exe" added) with the arguments words[1...], the caller's environment
// and current folder, and its standard input, output and error on three fresh
// pipes. No shell is involved. The child leads a group of its own (a process
// group; on Windows a new process group and a job object), so that it and
// every process it starts can be ended together. It inherits no handle of
// this process but its three standard ones, whatever else is open, and none
// of the pipes made here leaks into a child that another thread starts with
// LaunchChild meanwhile. `show_window` matters only on Windows: the child's
// console is shown, or (false) it has no window at all. Thread-safe.
[[nodiscard]] LaunchedChild LaunchChild(std::span<const std::string> words,
                                        bool show_window = false);

// Lets one thread end the waits of the readers of a child's pipes (ReadPipe).
// Once requested, it stays requested. Owns its kernel object (an eventfd on
// POSIX) for one child; RequestStop and ReadPipe are safe from any thread.
class PipeReadStop {
public:
    PipeReadStop() noexcept;
    ~PipeReadStop();
    PipeReadStop(const PipeReadStop&) = delete;
    PipeReadStop& operator=(const PipeReadStop&) = delete;

    // False when it could not be made; such a stop never ends a wait.
    [[nodiscard]] bool Valid() const noexcept;
    // A waiting ReadPipe returns Stopped, and so does every later waiting one.
    void RequestStop() noexcept;

private:
    friend struct ChildAccess;
#ifdef _WIN32
    // Windows cannot wait on an anonymous pipe: a reader blocks in ReadFile,
    // and the stop cancels that read (CancelSynchronousIo) of each thread here.
    std::mutex mutex_;
    bool requested_ = false;
    std::vector<void*> reading_threads_;  // HANDLEs of the threads inside ReadFile
#else
    WakeEvent wake_;
#endif
};

enum class PipeRead {
    Data,     // `size` bytes were read
    Empty,    // (not waiting) the pipe holds nothing now
    End,      // end-of-data (every writer has gone) or a read error
    Stopped,  // (waiting) the stop was requested; what the pipe holds is still there
};

struct PipeChunk {
    PipeRead result = PipeRead::End;
    std::size_t size = 0;
};

// Reads once from `pipe` into `buffer`. Waiting: until there is data, the
// pipe ends or `stop` is requested; not waiting: only what the pipe holds now.
[[nodiscard]] PipeChunk ReadPipe(const UniqueOsHandle& pipe, std::span<char> buffer,
                                 PipeReadStop& stop, bool wait);

// Writes all of `bytes` to `pipe` (a child's standard input); false on an error.
[[nodiscard]] bool WriteToPipe(const UniqueOsHandle& pipe, std::string_view bytes);

struct ChildEnd {
    bool ended = false;         // false: it still runs (or it is unknown: `lost`)
    bool lost = false;          // reaped by someone else (SIGCHLD ignored): never signal it
    std::optional<int> status;  // as ReapChild gives it, when ended
};

// Whether the child has ended, waiting for its end (`wait`) or not. It stays
// the caller's to reap: its id is not given to another process meanwhile.
[[nodiscard]] ChildEnd WaitForChildExit(const ChildHandle& child, bool wait);

enum class ChildSignal {
    Interrupt,  // as Ctrl-C at a terminal: ping prints its summary and ends
    Terminate,  // a request to end, which the child may handle or refuse
    Kill,       // ends it and everything in its group at once
};

// Sends `signal` to the child's group, and to the child itself when it has
// left that group. False where the system has no such request: Windows can
// only Kill (see child_launch_win32.cpp).
bool SignalChildGroup(const ChildHandle& child, ChildSignal signal) noexcept;

// Waits for the child's end (which must have come or be coming), releases
// it, and gives its exit status: the exit code, or on POSIX 128 + the signal
// that ended it (the code 1 on Windows for one ended with Kill). Nothing when
// it cannot be known.
std::optional<int> ReapChild(ChildHandle& child);

}  // namespace korvane
