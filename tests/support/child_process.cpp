#include "support/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace korvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How long the streams may stay open after the child was killed (a
// grandchild may still hold them).
constexpr std::chrono::milliseconds DRAIN_AFTER_KILL{2'000};

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

Pipe MakePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + WTERMSIG(status);
}

// Appends one read's worth to `pending`; `ended` at end of data or on a read
// error.
void ReadSome(const UniqueFd& fd, std::string& pending, bool& ended) {
    std::array<char, 4096> buffer{};
    const ssize_t got = ::read(fd.Get(), buffer.data(), buffer.size());
    if (got > 0) {
        pending.append(buffer.data(), static_cast<std::size_t>(got));
    } else {
        ended = got == 0 || errno != EINTR;
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        throw std::invalid_argument("no program");
    }
    Pipe out = MakePipe();
    Pipe err = MakePipe();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.write.Get(), 2);
    // The child starts with default signal handling and nothing blocked.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    started_ = Clock::now();
    const int failed = ::posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
    }
    channels_[Index(Stream::Out)].fd = std::move(out.read);
    channels_[Index(Stream::Err)].fd = std::move(err.read);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !raw_status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool ChildProcess::Fill(Channel& channel, Clock::time_point deadline) {
    if (channel.ended) {
        return false;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{.fd = channel.fd.Get(), .events = POLLIN, .revents = 0};
    const int n = ::poll(&ready, 1, static_cast<int>(left > 0 ? left : 0));
    if (n <= 0) {
        return false;
    }
    ReadSome(channel.fd, channel.pending, channel.ended);
    return !channel.ended;
}

std::optional<std::string> ChildProcess::ReadLine(Stream stream,
                                                  std::chrono::milliseconds timeout) {
    Channel& channel = channels_[Index(stream)];
    const auto deadline = Clock::now() + timeout;
    while (true) {
        const auto end = channel.pending.find('\n');
        if (end != std::string::npos) {
            std::string line = channel.pending.substr(0, end);
            channel.pending.erase(0, end + 1);
            channel.seen.push_back(line);
            return line;
        }
        if (!Fill(channel, deadline)) {
            if (channel.ended && !channel.pending.empty()) {
                std::string rest = std::move(channel.pending);
                channel.pending.clear();
                channel.seen.push_back(rest);
                return rest;
            }
            if (channel.ended || Clock::now() >= deadline) {
                return std::nullopt;
            }
        }
    }
}

std::optional<std::string> ChildProcess::WaitForLine(Stream stream, std::string_view text,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        auto line = ReadLine(stream, std::max(left, std::chrono::milliseconds(0)));
        if (!line) {
            return std::nullopt;
        }
        if (line->find(text) != std::string::npos) {
            return line;
        }
    }
}

std::string ChildProcess::ReadRest(Stream stream, std::chrono::milliseconds timeout) {
    Channel& channel = channels_[Index(stream)];
    const auto deadline = Clock::now() + timeout;
    while (Fill(channel, deadline) || (!channel.ended && Clock::now() < deadline)) {
    }
    return std::exchange(channel.pending, std::string());
}

bool ChildProcess::Signal(int signal_number) const {
    return pid_ > 0 && !raw_status_ && ::kill(pid_, signal_number) == 0;
}

bool ChildProcess::Reap() {
    if (raw_status_) {
        return true;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        raw_status_ = status;
    }
    return raw_status_.has_value();
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!Reap()) {
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return DecodeStatus(*raw_status_);
}

ProcessResult ChildProcess::Finish(std::chrono::milliseconds timeout) {
    ProcessResult result;
    auto deadline = Clock::now() + timeout;
    std::optional<Clock::time_point> ended_at;
    while (true) {
        if (!ended_at && Reap()) {
            ended_at = Clock::now();
        }
        std::array<pollfd, 2> fds{};
        std::array<Channel*, 2> polled{};
        nfds_t count = 0;
        for (Channel& channel : channels_) {
            if (!channel.ended) {
                fds[count] = {channel.fd.Get(), POLLIN, 0};
                polled[count++] = &channel;
            }
        }
        if (ended_at && count == 0) {
            break;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            if (!result.timed_out) {
                // Kill it, then give the streams a moment to close.
                ::kill(pid_, SIGKILL);
                result.timed_out = true;
                deadline = now + DRAIN_AFTER_KILL;
                continue;
            }
            // Something else holds the streams: stop listening.
            int status = 0;
            while (!raw_status_ && ::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            if (!raw_status_) {
                raw_status_ = status;
                ended_at = Clock::now();
            }
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        // While the child runs, look at its exit now and then even when it
        // prints nothing.
        const int wait_ms = static_cast<int>(std::min<long long>(left, count > 0 ? 50 : 5));
        if (::poll(fds.data(), count, wait_ms) > 0) {
            for (nfds_t i = 0; i < count; ++i) {
                if (fds[i].revents != 0) {
                    ReadSome(polled[i]->fd, polled[i]->pending, polled[i]->ended);
                }
            }
        }
    }
    result.seconds = std::chrono::duration<double>(*ended_at - started_).count();
    if (WIFEXITED(*raw_status_)) {
        result.exit_code = WEXITSTATUS(*raw_status_);
    } else if (WIFSIGNALED(*raw_status_)) {
        result.term_signal = WTERMSIG(*raw_status_);
    }
    result.out = std::exchange(channels_[Index(Stream::Out)].pending, std::string());
    result.err = std::exchange(channels_[Index(Stream::Err)].pending, std::string());
    return result;
}

}  // namespace korvane::testing
