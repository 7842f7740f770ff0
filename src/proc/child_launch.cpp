#include "proc/child_launch.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

extern char** environ;

namespace korvane {
namespace {

struct Pipe {
    UniqueFd read;
    UniqueFd write;
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
[[nodiscard]] int KeepAboveStdio(UniqueFd& fd) {
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

[[nodiscard]] int MakeNonBlocking(const UniqueFd& fd) {
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

}  // namespace

LaunchedChild LaunchChild(std::span<const std::string> words) {
    LaunchedChild child;
    if (words.empty() || words.front().empty()) {
        child.error = ENOENT;
        return child;
    }
    const auto failed = [&child](int error) {
        child.error = error;
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
    child.pid = pid;
    child.stdin_write = std::move(in.write);
    child.stdout_read = std::move(out.read);
    child.stderr_read = std::move(err.read);
    // The child's ends (in.read, out.write, err.write) close here, in the
    // parent: only the child and its descendants keep the output pipes open.
    return child;
}

}  // namespace korvane
