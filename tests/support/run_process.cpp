#include "support/run_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>

#include "base/unique_fd.hpp"

extern char** environ;

namespace korvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How long the streams may stay open after the child was killed (a
// grandchild that left the group may still hold them).
constexpr std::chrono::milliseconds DRAIN_AFTER_KILL{2'000};
// How often a child that has closed its streams is checked for its exit.
constexpr int EXIT_POLL_MS = 5;

[[noreturn]] void Fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

Pipe MakePipe() {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
        Fail("pipe2", errno);
    }
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// The spawn attribute objects, destroyed on every way out.
class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
};

std::vector<std::string> ChildEnvironment(const ProcessOptions& options) {
    std::set<std::string> replaced(options.unset_env.begin(), options.unset_env.end());
    for (const auto& [name, value] : options.set_env) {
        replaced.insert(name);
    }
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (!replaced.contains(text.substr(0, text.find('=')))) {
            env.push_back(text);
        }
    }
    for (const auto& [name, value] : options.set_env) {
        env.push_back(name + "=" + value);
    }
    return env;
}

std::vector<char*> CStrings(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// write() that reports a reader gone as EPIPE instead of raising SIGPIPE in
// this process: SIGPIPE is blocked around the call and a SIGPIPE it caused is
// taken off the pending set again.
ssize_t WriteWithoutSigpipe(int fd, const char* data, std::size_t size) {
    sigset_t pipe_only;
    sigset_t old_mask;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
    sigset_t pending;
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;

    const ssize_t n = ::write(fd, data, size);
    const int saved = errno;
    if (n < 0 && saved == EPIPE && !was_pending) {
        const timespec zero{};
        while (::sigtimedwait(&pipe_only, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    errno = saved;
    return n;
}

// Appends what is readable on `fd` to `sink`; closes `fd` at end of data.
void Drain(UniqueFd& fd, std::string& sink) {
    std::array<char, 65536> chunk{};
    const ssize_t n = ::read(fd.Get(), chunk.data(), chunk.size());
    if (n > 0) {
        sink.append(chunk.data(), static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        fd.Reset();
    }
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    if (argv.empty()) {
        throw std::invalid_argument("RunProcess: empty argv");
    }
    Pipe out = MakePipe();
    Pipe err = MakePipe();
    std::optional<Pipe> in;
    if (options.stdin_text) {
        in = MakePipe();
    }

    SpawnSetup setup;
    if (in) {
        ::posix_spawn_file_actions_adddup2(&setup.actions, in->read.Get(), STDIN_FILENO);
    } else {
        ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    ::posix_spawn_file_actions_adddup2(&setup.actions, out.write.Get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&setup.actions, err.write.Get(), STDERR_FILENO);
    if (!options.working_directory.empty()) {
        ::posix_spawn_file_actions_addchdir_np(&setup.actions, options.working_directory.c_str());
    }
    // Its own process group, so that a time-out ends everything it started;
    // default signal handling and an empty mask whatever this process uses.
    sigset_t all_signals;
    sigfillset(&all_signals);
    sigdelset(&all_signals, SIGKILL);
    sigdelset(&all_signals, SIGSTOP);
    sigset_t no_signals;
    sigemptyset(&no_signals);
    ::posix_spawnattr_setflags(
        &setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    ::posix_spawnattr_setpgroup(&setup.attributes, 0);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &all_signals);
    ::posix_spawnattr_setsigmask(&setup.attributes, &no_signals);

    std::vector<std::string> args = argv;
    std::vector<std::string> env = ChildEnvironment(options);
    const std::vector<char*> c_args = CStrings(args);
    const std::vector<char*> c_env = CStrings(env);
    pid_t pid = -1;
    const auto started = Clock::now();
    const int spawned = ::posix_spawnp(&pid, argv[0].c_str(), &setup.actions, &setup.attributes,
                                       c_args.data(), c_env.data());
    if (spawned != 0) {
        Fail("cannot start " + argv[0], spawned);
    }
    out.write.Reset();
    err.write.Reset();
    UniqueFd stdin_writer;
    if (in) {
        in->read.Reset();
        stdin_writer = std::move(in->write);
        ::fcntl(stdin_writer.Get(), F_SETFL, O_NONBLOCK);
    }

    ProcessResult result;
    std::size_t written = 0;
    std::optional<int> status;
    auto deadline = Clock::now() + options.timeout;
    bool killed = false;
    for (;;) {
        if (!status) {
            int raw = 0;
            if (::waitpid(pid, &raw, WNOHANG) == pid) {
                status = raw;
            }
        }
        const bool streams_open = out.read || err.read;
        if (status && !streams_open) {
            break;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            if (!killed) {
                ::kill(-pid, SIGKILL);
                killed = true;
                result.timed_out = true;
                deadline = now + DRAIN_AFTER_KILL;
                continue;
            }
            // Something outside the group holds the streams: stop listening.
            out.read.Reset();
            err.read.Reset();
            if (!status) {
                int raw = 0;
                while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
                }
                status = raw;
            }
            break;
        }

        std::array<pollfd, 3> fds{};
        nfds_t count = 0;
        pollfd* out_poll = nullptr;
        pollfd* err_poll = nullptr;
        pollfd* in_poll = nullptr;
        if (out.read) {
            fds[count] = {out.read.Get(), POLLIN, 0};
            out_poll = &fds[count++];
        }
        if (err.read) {
            fds[count] = {err.read.Get(), POLLIN, 0};
            err_poll = &fds[count++];
        }
        if (stdin_writer) {
            fds[count] = {stdin_writer.Get(), POLLOUT, 0};
            in_poll = &fds[count++];
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        // While the child runs, look at its exit now and then even when it
        // prints nothing.
        const int wait_ms =
            static_cast<int>(std::min<long long>(left, streams_open ? 50 : EXIT_POLL_MS));
        if (::poll(fds.data(), count, wait_ms) < 0 && errno != EINTR) {
            Fail("poll", errno);
        }
        if (out_poll != nullptr && out_poll->revents != 0) {
            Drain(out.read, result.out);
        }
        if (err_poll != nullptr && err_poll->revents != 0) {
            Drain(err.read, result.err);
        }
        if (in_poll != nullptr && in_poll->revents != 0) {
            const std::string& text = *options.stdin_text;
            if (written < text.size()) {
                const ssize_t n = WriteWithoutSigpipe(stdin_writer.Get(), text.data() + written,
                                                      text.size() - written);
                if (n > 0) {
                    written += static_cast<std::size_t>(n);
                } else if (errno != EAGAIN && errno != EINTR) {
                    stdin_writer.Reset();  // the child closed its input
                }
            }
            if (written == text.size()) {
                stdin_writer.Reset();
            }
        }
    }

    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (WIFEXITED(*status)) {
        result.exit_code = WEXITSTATUS(*status);
    } else if (WIFSIGNALED(*status)) {
        result.term_signal = WTERMSIG(*status);
    }
    return result;
}

std::string BinPath(const std::string& name) {
    return std::string(KORVANE_BIN_DIR) + "/" + name;
}

ProcessResult RunCli(const std::vector<std::string>& args, const ProcessOptions& options) {
    std::vector<std::string> argv{BinPath("korvane-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace korvane::testing
