#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "proc/child_launch.hpp"

extern char** environ;

namespace korvane {

struct ChildAccess {
    static pid_t& Pid(ChildHandle& child) { return child.pid_; }
    static pid_t Pid(const ChildHandle& child) { return child.pid_; }
    static const WakeEvent& Wake(const PipeReadStop& stop) { return stop.wake_; }
};

namespace {

struct Pipe {
    UniqueOsHandle read;
    UniqueOsHandle write;
};

// Each step of the start gives 0 or the error number that stops it.

// pipe2 with O_CLOEXEC: no window in which another thread's child could
// inherit the new ends.
[[nodiscard]] int MakePipe(Pipe& pipe) {
    std::array<int, 2> fds{-1, -1};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
        return errno;
    }
    pipe.read.Reset(fds[0]);
    pipe.write.Reset(fds[1]);
    return 0;
}

// A child's end must not sit on 0, 1 or 2 (possible when this process runs
// with a standard stream closed), or placing one end would overwrite another.
[[nodiscard]] int KeepAboveStdio(UniqueOsHandle& fd) {
    if (fd.Get() > STDERR_FILENO) {
        return 0;
    }
    const int moved = ::fcntl(fd.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) {
        return errno;
    }
    fd.Reset(moved);
    return 0;
}

[[nodiscard]] int MakeNonBlocking(const UniqueOsHandle& fd) {
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return errno;
    }
    return 0;
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
class SpawnSetup {
public:
    SpawnSetup() {
        actions_ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        attributes_ok_ = ::posix_spawnattr_init(&attributes_) == 0;
    }
    ~SpawnSetup() {
        if (actions_ok_) {
            ::posix_spawn_file_actions_destroy(&actions_);
        }
        if (attributes_ok_) {
            ::posix_spawnattr_destroy(&attributes_);
        }
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // 0, or the error number of the first of its steps that failed.
    [[nodiscard]] int Prepare(int child_stdin, int child_stdout, int child_stderr) {
        if (!actions_ok_ || !attributes_ok_) {
            return ENOMEM;
        }
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int number : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM}) {
            sigaddset(&defaults, number);
        }
        const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        // The steps run in this order (a braced list is evaluated left to
        // right); each yields 0 or an error number.
        const std::array results{
            // dup2 clears close-on-exec on the copies, so these three survive
            // the exec ...
            ::posix_spawn_file_actions_adddup2(&actions_, child_stdin, STDIN_FILENO),
            ::posix_spawn_file_actions_adddup2(&actions_, child_stdout, STDOUT_FILENO),
            ::posix_spawn_file_actions_adddup2(&actions_, child_stderr, STDERR_FILENO),
            // ... and nothing else does: not even descriptors that other code
            // in this process opened without close-on-exec.
            ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1),
            ::posix_spawnattr_setsigmask(&attributes_, &none),
            ::posix_spawnattr_setsigdefault(&attributes_, &defaults),
            ::posix_spawnattr_setpgroup(&attributes_, 0),
            ::posix_spawnattr_setflags(&attributes_, flags),
        };
        for (const int result : results) {
            if (result != 0) {
                return result;
            }
        }
        return 0;
    }

    [[nodiscard]] const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    [[nodiscard]] const posix_spawnattr_t* Attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool actions_ok_ = false;
    bool attributes_ok_ = false;
};

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

void UniqueOsHandle::Reset(Native handle) noexcept {
    const Native old = std::exchange(handle_, handle);
    if (old != NONE) {
        ::close(old);
    }
}

ChildHandle::ChildHandle(ChildHandle&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

ChildHandle& ChildHandle::operator=(ChildHandle&& other) noexcept {
    pid_ = std::exchange(other.pid_, -1);
    return *this;
}

// A pid is released by reaping it, which is ReapChild's.
ChildHandle::~ChildHandle() = default;

bool ChildHandle::Valid() const noexcept {
    return pid_ >= 0;
}

std::int64_t ChildHandle::Id() const noexcept {
    return pid_;
}

LaunchedChild LaunchChild(std::span<const std::string> words, bool /*show_window*/) {
    LaunchedChild child;
    if (words.empty() || words.front().empty()) {
        child.error = std::make_error_code(std::errc::no_such_file_or_directory);
        return child;
    }
    const auto failed = [&child](int error) {
        child.error = {error, std::system_category()};
        return error != 0;
    };
    Pipe in;
    Pipe out;
    Pipe err;
    SpawnSetup setup;
    if (failed(MakePipe(in)) || failed(MakePipe(out)) || failed(MakePipe(err)) ||
        failed(KeepAboveStdio(in.read)) || failed(KeepAboveStdio(out.write)) ||
        failed(KeepAboveStdio(err.write)) || failed(MakeNonBlocking(out.read)) ||
        failed(MakeNonBlocking(err.read)) ||
        failed(setup.Prepare(in.read.Get(), out.write.Get(), err.write.Get()))) {
        return child;
    }
    // posix_spawnp wants mutable strings; it does not change them.
    std::vector<std::string> arguments(words.begin(), words.end());
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& word : arguments) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    if (failed(::posix_spawnp(&pid, argv.front(), setup.Actions(), setup.Attributes(), argv.data(),
                              environ))) {
        return child;
    }
    ChildAccess::Pid(child.process) = pid;
    child.stdin_write = std::move(in.write);
    child.stdout_read = std::move(out.read);
    child.stderr_read = std::move(err.read);
    // The child's ends (in.read, out.write, err.write) close here, in the
    // parent: only the child and its descendants keep the output pipes open.
    return child;
}

PipeReadStop::PipeReadStop() noexcept = default;
PipeReadStop::~PipeReadStop() = default;

bool PipeReadStop::Valid() const noexcept {
    return wake_.Valid();
}

void PipeReadStop::RequestStop() noexcept {
    wake_.Set();
}

PipeChunk ReadPipe(const UniqueOsHandle& pipe, std::span<char> buffer, PipeReadStop& stop,
                   bool wait) {
    for (;;) {
        if (wait) {
            const WaitResult ready =
                WaitForEither(pipe.Get(), ChildAccess::Wake(stop), NO_TIME_LIMIT);
            if (ready == WaitResult::Failed) {
                return {};
            }
            if (ready == WaitResult::Woken) {
                return {.result = PipeRead::Stopped};
            }
        }
        const ssize_t n = ::read(pipe.Get(), buffer.data(), buffer.size());
        if (n > 0) {
            return {.result = PipeRead::Data, .size = static_cast<std::size_t>(n)};
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (wait) {
                continue;  // woken for nothing
            }
            return {.result = PipeRead::Empty};
        }
        return {};  // end-of-data, or a read error that ends the stream like it
    }
}

bool WriteToPipe(const UniqueOsHandle& pipe, std::string_view bytes) {
    // A child that has ended without reading makes the write raise SIGPIPE,
    // which would end this whole process: held back in this thread for the
    // write, and taken back if the write raised it.
    sigset_t pipe_signal{};
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigset_t old_mask{};
    const bool held = ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask) == 0;
    bool written = true;
    while (!bytes.empty()) {
        const ssize_t n = ::write(pipe.Get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n < 0 && errno == EPIPE && held) {
                const timespec now{};
                (void)::sigtimedwait(&pipe_signal, nullptr, &now);
            }
            written = false;
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (held) {
        ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    }
    return written;
}

ChildEnd WaitForChildExit(const ChildHandle& child, bool wait) {
    // WNOWAIT leaves the child a zombie: its pid (and so its process-group id)
    // stays reserved until ReapChild.
    siginfo_t info{};
    int result = -1;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(ChildAccess::Pid(child)), &info,
                          WEXITED | WNOWAIT | (wait ? 0 : WNOHANG));
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        // Reaped behind our back (SIGCHLD set to be ignored): the pid may
        // already belong to someone else.
        return {.ended = true, .lost = true};
    }
    if (info.si_pid == 0) {
        return {};  // WNOHANG: still running
    }
    return {.ended = true, .status = StatusFromSignalInfo(info)};
}

bool SignalChildGroup(const ChildHandle& child, ChildSignal signal) noexcept {
    const pid_t pid = ChildAccess::Pid(child);
    const int number = signal == ChildSignal::Interrupt   ? SIGINT
                       : signal == ChildSignal::Terminate ? SIGTERM
                                                          : SIGKILL;
    // The group takes the child's descendants with it. The child is named
    // apart only when it has left the group it was started in: a second copy
    // of an interrupt would be handled twice (ping printing its summary twice).
    (void)::killpg(pid, number);
    if (::getpgid(pid) != pid) {
        (void)::kill(pid, number);
    }
    return true;
}

std::optional<int> ReapChild(ChildHandle& child) {
    pid_t& pid = ChildAccess::Pid(child);
    int status = 0;
    pid_t reaped = -1;
    do {
        reaped = ::waitpid(pid, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    const bool ok = reaped == pid;
    pid = -1;
    return ok ? StatusFromWaitStatus(status) : std::nullopt;
}

}  // namespace korvane
