#include "support/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace korvane::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Throws with errno's text unless `ok`.
void Check(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error(what + ": " + std::strerror(errno));
    }
}

// The null-terminated pointer array posix_spawn wants; `texts` must outlive it.
std::vector<char*> CStrings(std::vector<std::string>& texts) {
    std::vector<char*> pointers(texts.size() + 1, nullptr);
    std::ranges::transform(texts, pointers.begin(), [](std::string& text) { return text.data(); });
    return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    std::array<UniqueFd, 2> write_ends;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        std::array<int, 2> fds{};
        Check(::pipe2(fds.data(), O_CLOEXEC) == 0, "pipe2");
        channels_[i].fd.Reset(fds[0]);
        write_ends[i].Reset(fds[1]);
    }
    // posix_spawn's two set-up objects, destroyed on every way out.
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    const std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t*)>
        destroy_actions(&actions, ::posix_spawn_file_actions_destroy);
    const std::unique_ptr<posix_spawnattr_t, int (*)(posix_spawnattr_t*)> destroy_attributes(
        &attributes, ::posix_spawnattr_destroy);
    // stdin_text goes into an unnamed in-memory file that the child reads
    // from its start: the test never waits for the child to take it.
    UniqueFd input(options.stdin_text ? ::memfd_create("stdin", MFD_CLOEXEC) : -1);
    if (options.stdin_text) {
        const std::string& text = *options.stdin_text;
        Check(input && ::write(input.Get(), text.data(), text.size()) == std::ssize(text) &&
                  ::lseek(input.Get(), 0, SEEK_SET) == 0,
              "stdin file");
        ::posix_spawn_file_actions_adddup2(&actions, input.Get(), STDIN_FILENO);
    } else {
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    ::posix_spawn_file_actions_adddup2(&actions, write_ends[0].Get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, write_ends[1].Get(), STDERR_FILENO);
    if (!options.working_directory.empty()) {
        ::posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
    }
    // A process group of its own, so that a kill ends everything it started;
    // default handling of every signal and none blocked, whatever this process uses.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);

    std::vector<std::string> args = argv;
    std::vector<std::string> env;  // this process's, with the options' variables set over it
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!options.set_env.contains(std::string(*entry).substr(0, std::strcspn(*entry, "=")))) {
            env.emplace_back(*entry);
        }
    }
    for (const auto& [name, value] : options.set_env) {
        env.push_back(name + "=" + value);
    }
    started_ = Clock::now();
    errno = ::posix_spawnp(&pid_, argv.at(0).c_str(), &actions, &attributes, CStrings(args).data(),
                           CStrings(env).data());
    Check(errno == 0, "cannot start " + argv[0]);
}

ChildProcess::~ChildProcess() {
    if (!raw_status_) {
        KillGroup();
        Reap(true);
    }
}

void ChildProcess::KillGroup() const {
    ::kill(-pid_, SIGKILL);
    if (!raw_status_) {
        ::kill(pid_, SIGKILL);  // in case it left its group
    }
}

bool ChildProcess::Fill(Channel* only, Clock::time_point deadline) {
    std::array<pollfd, 2> fds{};
    for (std::size_t i = 0; i < fds.size(); ++i) {
        const bool wanted = (only == nullptr || only == &channels_[i]) && !channels_[i].ended;
        fds[i] = {.fd = wanted ? channels_[i].fd.Get() : -1, .events = POLLIN, .revents = 0};
    }
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    if (::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(left, 0))) <= 0) {
        return false;
    }
    std::array<char, 65536> buffer{};
    for (std::size_t i = 0; i < fds.size(); ++i) {
        Channel& channel = channels_[i];
        const ssize_t got =
            fds[i].revents != 0 ? ::read(channel.fd.Get(), buffer.data(), buffer.size()) : -2;
        if (got > 0) {
            channel.pending.append(buffer.data(), static_cast<std::size_t>(got));
        } else if (got == 0 || (got == -1 && errno != EINTR)) {
            channel.ended = true;
        }
    }
    return true;
}

std::optional<std::string> ChildProcess::ReadLine(Stream stream, milliseconds timeout) {
    Channel& channel = Of(stream);
    const auto deadline = Clock::now() + timeout;
    while (channel.pending.find('\n') == std::string::npos && !channel.ended &&
           (Fill(&channel, deadline) || Clock::now() < deadline)) {
    }
    const auto end = channel.pending.find('\n');
    if (end == std::string::npos && (!channel.ended || channel.pending.empty())) {
        return std::nullopt;  // time-out, or all was read
    }
    std::string line = channel.pending.substr(0, end);
    channel.pending.erase(0, end == std::string::npos ? end : end + 1);
    return line;
}

std::optional<std::string> ChildProcess::WaitForLine(Stream stream, std::string_view text,
                                                     milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (auto line = ReadLine(stream, std::chrono::ceil<milliseconds>(deadline - Clock::now()))) {
        if (line->find(text) != std::string::npos) {
            return line;
        }
    }
    return std::nullopt;
}

std::string ChildProcess::ReadRest(Stream stream, milliseconds timeout) {
    Channel& channel = Of(stream);
    const auto deadline = Clock::now() + timeout;
    while (!channel.ended && (Fill(&channel, deadline) || Clock::now() < deadline)) {
    }
    return std::exchange(channel.pending, std::string());
}

bool ChildProcess::Signal(int signal_number) const {
    return !raw_status_ && ::kill(pid_, signal_number) == 0;
}

bool ChildProcess::Reap(bool block) {
    int status = 0;
    pid_t got = 0;
    while (!raw_status_ && (got = ::waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 &&
           errno == EINTR) {
    }
    if (got == pid_) {
        raw_status_ = status;
    }
    return raw_status_.has_value();
}

std::optional<int> ChildProcess::Wait(milliseconds timeout) {
    for (const auto deadline = Clock::now() + timeout; !Reap() && Clock::now() < deadline;) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    if (!raw_status_) {
        return std::nullopt;
    }
    return WIFEXITED(*raw_status_) ? WEXITSTATUS(*raw_status_) : 128 + WTERMSIG(*raw_status_);
}

ProcessResult ChildProcess::Finish(milliseconds timeout) {
    ProcessResult result;
    const auto deadline = Clock::now() + timeout;
    const auto all_read = [this] { return channels_[0].ended && channels_[1].ended; };
    while (!all_read() && Clock::now() < deadline) {
        Fill(nullptr, deadline);
    }
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    if (!all_read() || !Wait(std::max(left, milliseconds(0)))) {
        KillGroup();
        Reap(true);
        result.timed_out = true;
        // Keep what the pipes already hold; whatever may still hold them
        // open (outside the group) is not waited for.
        while (Fill(nullptr, Clock::now())) {
        }
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    if (raw_status_ && WIFEXITED(*raw_status_)) {
        result.exit_code = WEXITSTATUS(*raw_status_);
    }
    result.out = std::exchange(channels_[0].pending, std::string());
    result.err = std::exchange(channels_[1].pending, std::string());
    return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    return ChildProcess(argv, options).Finish(options.timeout);
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
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace korvane::testing
