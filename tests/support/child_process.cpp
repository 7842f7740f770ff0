#include "support/child_process.hpp"

#include <csignal>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "support/platform.hpp"

namespace korvane::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::optional<std::string>& input) {
    LaunchedChild child = LaunchChild(argv);
    if (!child.process.Valid()) {
        throw std::runtime_error("cannot start " + argv.at(0) + ": " + child.error.message());
    }
    child_ = std::move(child.process);
    // The tests' inputs are small: they fit the pipe, and stdin ends after
    // them. A child may end without reading its input: the write then fails,
    // and what the child did is still the test's to see.
    if (input) {
        (void)WriteToPipe(child.stdin_write, *input);
    }
    pipes_ = {std::move(child.stdout_read), std::move(child.stderr_read)};
    for (std::size_t i = 0; i < readers_.size(); ++i) {
        readers_[i] = std::thread([this, i] { Read(i); });
    }
}

ChildProcess::~ChildProcess() {
    if (!exit_code_) {
        SignalChildGroup(child_, ChildSignal::Kill);
        (void)ReapChild(child_);
    }
    StopReaders();
}

void ChildProcess::Read(std::size_t stream) noexcept {
    std::array<char, 65536> buffer{};
    bool stopping = false;
    for (;;) {
        const PipeChunk chunk = ReadPipe(pipes_[stream], buffer, stop_, !stopping);
        if (chunk.result == PipeRead::Stopped) {
            stopping = true;  // what the pipe holds now, then no more
            continue;
        }
        if (chunk.result != PipeRead::Data) {
            break;
        }
        const std::lock_guard lock(mutex_);
        pending_[stream].append(buffer.data(), chunk.size);
        changed_.notify_all();
    }
    const std::lock_guard lock(mutex_);
    ended_[stream] = true;
    changed_.notify_all();
}

void ChildProcess::StopReaders() {
    // Whatever may still hold the pipes open (outside the group) is not
    // waited for: the readers take what the pipes hold now.
    stop_.RequestStop();
    for (std::thread& reader : readers_) {
        if (reader.joinable()) {
            reader.join();
        }
    }
}

std::optional<std::string> ChildProcess::WaitForLine(Stream stream, std::string_view text,
                                                     milliseconds timeout) {
    const auto i = static_cast<std::size_t>(stream);
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto end = pending_[i].find('\n');
        if (end != std::string::npos) {
            std::string line = pending_[i].substr(0, end);
            pending_[i].erase(0, end + 1);
            if (ON_WINDOWS && line.ends_with('\r')) {
                line.pop_back();  // a Windows program's text mode ends lines with CR LF
            }
            if (line.find(text) != std::string::npos) {
                return line;
            }
        } else if (ended_[i] || changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            return std::nullopt;
        }
    }
}

void ChildProcess::Signal(int signal_number) const {
    if (!exit_code_) {
        (void)SignalChildGroup(child_, signal_number == SIGINT    ? ChildSignal::Interrupt
                                       : signal_number == SIGTERM ? ChildSignal::Terminate
                                                                  : ChildSignal::Kill);
    }
}

ProcessResult ChildProcess::Finish(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, deadline, [this] { return ended_[0] && ended_[1]; });
    }
    if (!exit_code_) {
        if (!WaitUntil([this] { return WaitForChildExit(child_, false).ended; },
                       std::chrono::ceil<milliseconds>(deadline - Clock::now()))) {
            SignalChildGroup(child_, ChildSignal::Kill);
        }
        exit_code_ = ReapChild(child_).value_or(-1);
    }
    StopReaders();
    const std::lock_guard lock(mutex_);
    ProcessResult result{.exit_code = *exit_code_,
                         .out = std::exchange(pending_[0], {}),
                         .err = std::exchange(pending_[1], {})};
    if (ON_WINDOWS) {  // the tests read lines as LF-ended, whatever the platform writes
        for (std::string* text : {&result.out, &result.err}) {
            *text = std::regex_replace(*text, std::regex("\r\n"), "\n");
        }
    }
    return result;
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
