#include "support/child_process.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "proc/child_launch.hpp"

namespace korvane::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The child and its group; the child by itself too in case it left the group.
void KillAll(pid_t pid) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::optional<std::string>& input) {
    LaunchedChild child = LaunchChild(argv);
    if (child.pid < 0) {
        throw std::runtime_error("cannot start " + argv.at(0) + ": " + std::strerror(child.error));
    }
    pid_ = child.pid;
    // The tests' inputs are small: they fit the pipe, and stdin ends after them.
    if (input && ::write(child.stdin_write.Get(), input->data(), input->size()) < 0) {
        throw std::runtime_error(std::string("stdin: ") + std::strerror(errno));
    }
    pipes_ = {std::move(child.stdout_read), std::move(child.stderr_read)};
}

ChildProcess::~ChildProcess() {
    if (!exit_code_) {
        KillAll(pid_);
        Reap(0);
    }
}

bool ChildProcess::Fill(std::optional<std::size_t> only, Clock::time_point deadline) {
    std::array<pollfd, 2> fds{};
    for (std::size_t i = 0; i < fds.size(); ++i) {
        const bool wanted = !only || *only == i;
        fds[i] = {.fd = wanted ? pipes_[i].Get() : -1, .events = POLLIN, .revents = 0};
    }
    if (fds[0].fd < 0 && fds[1].fd < 0) {
        return false;
    }
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    if (::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(left, 0))) <= 0) {
        return false;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        std::array<char, 65536> buffer{};
        const ssize_t got =
            fds[i].revents != 0 ? ::read(fds[i].fd, buffer.data(), buffer.size()) : -2;
        if (got > 0) {
            pending_[i].append(buffer.data(), static_cast<std::size_t>(got));
        } else if (got == 0 || (got == -1 && errno != EINTR)) {
            pipes_[i].Reset();  // end of data
        }
    }
    return true;
}

bool ChildProcess::Reap(int flags) {
    int status = 0;
    if (!exit_code_ && ::waitpid(pid_, &status, flags) == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return exit_code_.has_value();
}

std::optional<std::string> ChildProcess::WaitForLine(Stream stream, std::string_view text,
                                                     milliseconds timeout) {
    const auto i = static_cast<std::size_t>(stream);
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto end = pending_[i].find('\n');
        if (end != std::string::npos) {
            std::string line = pending_[i].substr(0, end);
            pending_[i].erase(0, end + 1);
            if (line.find(text) != std::string::npos) {
                return line;
            }
        } else if (!Fill(i, deadline) && (!pipes_[i] || Clock::now() >= deadline)) {
            return std::nullopt;
        }
    }
}

void ChildProcess::Signal(int signal_number) const {
    if (!exit_code_) {
        ::kill(pid_, signal_number);
    }
}

ProcessResult ChildProcess::Finish(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Fill(std::nullopt, deadline)) {
    }
    if (!WaitUntil([this] { return Reap(WNOHANG); },
                   std::chrono::ceil<milliseconds>(deadline - Clock::now()))) {
        KillAll(pid_);
        Reap(0);
    }
    // Keep what the pipes already hold; whatever may still hold them open
    // (outside the group) is not waited for.
    while (Fill(std::nullopt, Clock::now())) {
    }
    return {.exit_code = *exit_code_,
            .out = std::exchange(pending_[0], {}),
            .err = std::exchange(pending_[1], {})};
}

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::optional<std::string>& input, milliseconds timeout) {
    return ChildProcess(argv, input).Finish(timeout);
}

std::string BinPath(const std::string& name) {
    return std::string(KORVANE_BIN_DIR) + "/" + name;
}

bool WaitUntil(const std::function<bool()>& done, milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    return done();
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
