#include "proc/child_process_runner.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "support/child_scripts.hpp"
#include "support/run_process.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testing::TempDir;

const std::string FFFD = "\xEF\xBF\xBD";

// Records every piece per stream, in the order the runner appended it.
class RecordingRunner : public ChildProcessRunner {
public:
    using ChildProcessRunner::ChildProcessRunner;
    ~RecordingRunner() override { StopChild(); }

    struct Piece {
        bool from_stderr;
        std::string text;
    };

    [[nodiscard]] std::vector<Piece> Pieces() const {
        const std::lock_guard lock(mutex_);
        return pieces_;
    }
    [[nodiscard]] std::string StreamText(bool from_stderr) const {
        std::string text;
        for (const auto& piece : Pieces()) {
            if (piece.from_stderr == from_stderr)
                text += piece.text;
        }
        return text;
    }

    std::atomic<int> started{0};
    std::atomic<int> terminated{0};
    std::string started_command;

protected:
    void OnChildStarted(const std::string& command) override {
        started_command = command;
        ++started;
    }
    void OnChildStdOutWrite(std::string_view text) override { Record(false, text); }
    void OnChildStdErrWrite(std::string_view text) override { Record(true, text); }
    void OnChildTerminate() override { ++terminated; }

private:
    void Record(bool from_stderr, std::string_view text) {
        // The base append happens under the same lock, so the record's order
        // is CollectedOutput's order.
        const std::lock_guard lock(mutex_);
        if (from_stderr) {
            ChildProcessRunner::OnChildStdErrWrite(text);
        } else {
            ChildProcessRunner::OnChildStdOutWrite(text);
        }
        pieces_.push_back({from_stderr, std::string(text)});
    }

    mutable std::mutex mutex_;
    std::vector<Piece> pieces_;
};

// Runs `command` to its end (at most 20 s) and stops the runner.
void RunToEnd(ChildProcessRunner& runner, const std::string& command) {
    ASSERT_TRUE(runner.StartChild(command, false)) << runner.CollectedOutput();
    ASSERT_TRUE(runner.WaitForChildEnd(20s));
    runner.StopChild();
}

std::string CatCommand(const std::filesystem::path& file) {
    return "/bin/cat " + file.string();
}

std::filesystem::path WriteText(const TempDir& dir, const std::string& name,
                                const std::string& text) {
    return dir.WriteFile(name, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool NoChildLeft() {
    errno = 0;
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// A process that is gone, or a zombie left to whoever adopted it.
bool ProcessEnded(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pid_field, name, state;
    stat >> pid_field >> name >> state;
    return state == "Z" || state == "X";
}

TEST(ChildProcessRunner, BothStreamsArriveWholeAndInOrder) {
    TempDir dir;
    const auto script = testing::WriteScript(
        dir, "both.sh",
        "i=1\nwhile [ $i -le 300 ]; do echo \"out line $i\"; echo \"err line $i\" >&2; "
        "i=$((i+1)); done\n");
    RecordingRunner runner("UTF-8");
    RunToEnd(runner, script.string());

    std::string out, err;
    for (int i = 1; i <= 300; ++i) {
        out += "out line " + std::to_string(i) + "\n";
        err += "err line " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(runner.StreamText(false), out);
    EXPECT_EQ(runner.StreamText(true), err);
    std::string appended;
    for (const auto& piece : runner.Pieces()) {
        EXPECT_LE(piece.text.size(), ChildProcessRunner::READ_SIZE);
        appended += piece.text;
    }
    EXPECT_EQ(runner.CollectedOutput(), appended);
}

TEST(ChildProcessRunner, ReadBoundariesLoseAndRepeatNothing) {
    TempDir dir;
    for (const std::size_t size : {1u, 259u, 260u, 261u, 520u, 521u, 70000u}) {
        SCOPED_TRACE(size);
        std::string payload;
        for (std::size_t i = 0; i < size; ++i) {
            payload.push_back(static_cast<char>('a' + i % 26));
        }
        const auto file = WriteText(dir, "payload" + std::to_string(size), payload);
        RecordingRunner runner("UTF-8");
        RunToEnd(runner, CatCommand(file));
        EXPECT_EQ(runner.CollectedOutput(), payload);
        for (const auto& piece : runner.Pieces()) {
            EXPECT_LE(piece.text.size(), ChildProcessRunner::READ_SIZE);
        }
    }
}

TEST(ChildProcessRunner, CharacterSplitBetweenReadsIsRejoined) {
    TempDir dir;
    // 259 ASCII bytes put the first byte of "€" last in the first read.
    const std::string euro = std::string(259, 'a') + "€z\n";
    std::string han;
    for (int i = 0; i < 1000; ++i)
        han += "中";  // 260 is no multiple of 3
    for (const std::string& payload : {euro, han}) {
        const auto file = WriteText(dir, "text", payload);
        RecordingRunner runner("UTF-8");
        RunToEnd(runner, CatCommand(file));
        EXPECT_EQ(runner.CollectedOutput(), payload);
        for (const auto& piece : runner.Pieces()) {
            EXPECT_THAT(piece.text, ::testing::Not(HasSubstr(FFFD)));
        }
    }
}

TEST(ChildProcessRunner, CharacterSplitByAPauseIsRejoined) {
    TempDir dir;
    const auto script = testing::WriteScript(
        dir, "pause.sh",
        "printf '" + std::string(259, 'a') + "\\342'\nsleep 0.3\nprintf '\\202\\254\\n'\n");
    RecordingRunner runner("UTF-8");
    RunToEnd(runner, script.string());
    EXPECT_EQ(runner.CollectedOutput(), std::string(259, 'a') + "€\n");
    const auto pieces = runner.Pieces();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].text, std::string(259, 'a'));
    EXPECT_EQ(pieces[1].text, "€\n");
}

TEST(ChildProcessRunner, LocaleTextIsConvertedAcrossReads) {
    TempDir dir;
    // "中文" in GB18030, its first character split by the 260-byte read.
    const auto file = WriteText(dir, "gb", std::string(259, 'a') + "\xD6\xD0\xCE\xC4\n");
    RecordingRunner runner("GB18030");
    RunToEnd(runner, CatCommand(file));
    EXPECT_EQ(runner.CollectedOutput(), std::string(259, 'a') + "中文\n");
}

TEST(ChildProcessRunner, LastLinesBeforeTheEndAreNeverLost) {
    TempDir dir;
    const auto script = testing::WriteScript(
        dir, "last.sh", "echo first\necho 'last error' >&2\nprintf 'last line, no line feed'\n");
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        RecordingRunner runner("UTF-8");
        RunToEnd(runner, script.string());
        ASSERT_EQ(runner.StreamText(false), "first\nlast line, no line feed");
        ASSERT_EQ(runner.StreamText(true), "last error\n");
    }
}

TEST(ChildProcessRunner, ProgramThatCannotStartIsReported) {
    TempDir dir;
    const auto not_executable = WriteText(dir, "plain.txt", "echo no\n");
    const int fds_before = testing::CountOpenFds();
    for (const std::string& command : std::vector<std::string>{
             "/nonexistent-korvane/no-such-program -x 1", "korvane-no-such-program-on-path",
             not_executable.string(), std::string(), std::string("   ")}) {
        SCOPED_TRACE(command);
        RecordingRunner runner("UTF-8");
        EXPECT_FALSE(runner.StartChild(command, true));
        EXPECT_FALSE(runner.IsChildRunning());
        EXPECT_EQ(runner.CollectedOutput(), "Unable to start " + command + "\n");
        EXPECT_EQ(runner.StreamText(true), "Unable to start " + command + "\n");
        EXPECT_EQ(runner.started.load(), 0);
        EXPECT_FALSE(runner.ChildExitStatus().has_value());
        EXPECT_TRUE(runner.WaitForChildEnd(0ms));
        runner.StopChild();
        EXPECT_EQ(runner.CollectedOutput(), "Unable to start " + command + "\n");
    }
    EXPECT_EQ(testing::CountOpenFds(), fds_before);
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcessRunner, StatusAndHooksOfAChildThatEndsByItself) {
    TempDir dir;
    const auto script = testing::WriteScript(dir, "three.sh", "echo bye\nexit 3\n");
    RecordingRunner runner("UTF-8");
    ASSERT_TRUE(runner.StartChild(script.string(), false));
    EXPECT_EQ(runner.started.load(), 1);
    EXPECT_EQ(runner.started_command, script.string());
    EXPECT_FALSE(runner.StartChild(script.string(), false));  // one child at a time
    ASSERT_TRUE(runner.WaitForChildEnd(20s));
    EXPECT_FALSE(runner.IsChildRunning());
    runner.StopChild();
    EXPECT_EQ(runner.ChildExitStatus(), 3);
    EXPECT_EQ(runner.terminated.load(), 1);
    EXPECT_EQ(runner.CollectedOutput(), "bye\n");
    EXPECT_TRUE(NoChildLeft());

    // Stopped, the runner can run the next command.
    ASSERT_TRUE(runner.StartChild("/bin/echo again", false));
    ASSERT_TRUE(runner.WaitForChildEnd(20s));
    runner.StopChild();
    EXPECT_EQ(runner.ChildExitStatus(), 0);
    EXPECT_EQ(runner.CollectedOutput(), "bye\nagain\n");
}

TEST(ChildProcessRunner, StopEndsAChildThatNeverEnds) {
    RecordingRunner runner("UTF-8");
    ASSERT_TRUE(runner.StartChild("/bin/sleep 1000", false));
    EXPECT_FALSE(runner.WaitForChildEnd(200ms));
    const auto start = std::chrono::steady_clock::now();
    runner.StopChild();
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_FALSE(runner.IsChildRunning());
    EXPECT_EQ(runner.ChildExitStatus(), 128 + SIGTERM);
    EXPECT_EQ(runner.terminated.load(), 1);
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcessRunner, StopEndsAChildThatIgnoresTerm) {
    TempDir dir;
    const auto script = testing::WriteScript(
        dir, "stubborn.sh", "trap '' TERM\necho ready\nwhile :; do sleep 1; done\n");
    RecordingRunner runner("UTF-8");
    ASSERT_TRUE(runner.StartChild(script.string(), false));
    ASSERT_TRUE(testing::WaitUntil([&] { return runner.CollectedOutput() == "ready\n"; }, 10s));
    const auto start = std::chrono::steady_clock::now();
    runner.StopChild();
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(runner.ChildExitStatus(), 128 + SIGKILL);
    EXPECT_EQ(runner.CollectedOutput(), "ready\n");
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcessRunner, StdinStaysOpenUntilStop) {
    // cat copies its stdin: it would end at once if stdin ended early.
    RecordingRunner runner("UTF-8");
    ASSERT_TRUE(runner.StartChild("/bin/cat", false));
    EXPECT_FALSE(runner.WaitForChildEnd(300ms));
    EXPECT_TRUE(runner.IsChildRunning());
    const auto start = std::chrono::steady_clock::now();
    runner.StopChild();
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcessRunner, StopEndsWhatTheChildStarted) {
    TempDir dir;
    const auto script = testing::WriteScript(dir, "parent.sh", "sleep 1000 &\necho $!\nwait\n");
    RecordingRunner runner("UTF-8");
    ASSERT_TRUE(runner.StartChild(script.string(), false));
    ASSERT_TRUE(testing::WaitUntil(
        [&] { return runner.CollectedOutput().find('\n') != std::string::npos; }, 10s));
    const pid_t grandchild = std::stoi(runner.CollectedOutput());
    const auto start = std::chrono::steady_clock::now();
    runner.StopChild();
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_TRUE(testing::WaitUntil([&] { return ProcessEnded(grandchild); }, 5s));
    EXPECT_TRUE(NoChildLeft());
}

// Kills the process whose pid a test read from a child's output, if it is
// still the `sleep` that child started, whatever the test's outcome.
class SleeperCleanup {
public:
    ~SleeperCleanup() {
        if (pid <= 0)
            return;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        comm >> name;
        if (name == "sleep")
            ::kill(pid, SIGKILL);
    }
    pid_t pid = -1;
};

TEST(ChildProcessRunner, StopReturnsWhileAnEscapedProcessHoldsThePipes) {
    TempDir dir;
    // The sleeper makes a session of its own (out of reach of the group) and
    // keeps the child's stdout and stderr open after the child has ended.
    const auto script =
        testing::WriteScript(dir, "escape.sh", "setsid sleep 1000 &\necho $!\necho done\n");
    SleeperCleanup sleeper;
    RecordingRunner runner("UTF-8");
    ASSERT_TRUE(runner.StartChild(script.string(), false));
    ASSERT_TRUE(runner.WaitForChildEnd(20s));
    const auto start = std::chrono::steady_clock::now();
    runner.StopChild();
    EXPECT_LT(SecondsSince(start), 5.0);
    const std::string output = runner.CollectedOutput();
    sleeper.pid = std::stoi(output);
    EXPECT_THAT(output, HasSubstr("\ndone\n"));
    EXPECT_EQ(runner.ChildExitStatus(), 0);
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcessRunner, StopTwiceOrWithoutAStartIsHarmless) {
    RecordingRunner never;
    never.StopChild();
    never.StopChild();
    EXPECT_FALSE(never.IsChildRunning());
    EXPECT_EQ(never.CollectedOutput(), "");
    EXPECT_EQ(never.terminated.load(), 0);

    RecordingRunner twice("UTF-8");
    RunToEnd(twice, "/bin/echo once");
    twice.StopChild();
    EXPECT_EQ(twice.CollectedOutput(), "once\n");
    EXPECT_EQ(twice.terminated.load(), 1);
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcessRunner, RunnersAtTheSameTimeKeepTheirOwnOutput) {
    TempDir dir;
    const auto make = [&](const std::string& tag) {
        return testing::WriteScript(
            dir, tag + ".sh",
            "i=1\nwhile [ $i -le 40 ]; do echo \"" + tag + " $i\"; sleep 0.01; i=$((i+1)); done\n");
    };
    const auto script_a = make("A");
    const auto script_b = make("B");
    // What a child of some other spawner in this process inherits anyway.
    const std::string inherited_before = testing::RunProcess({"/bin/ls", "/proc/self/fd"}).out;
    RecordingRunner a("UTF-8");
    RecordingRunner b("UTF-8");
    ASSERT_TRUE(a.StartChild(script_a.string(), false));
    ASSERT_TRUE(b.StartChild(script_b.string(), false));

    // Children started while the two run inherit none of their descriptors:
    // one of another spawner that closes nothing itself ...
    EXPECT_EQ(testing::RunProcess({"/bin/ls", "/proc/self/fd"}).out, inherited_before);
    // ... and one of a runner, which gets its three standard streams only
    // (3 is ls's own listing of the folder).
    RecordingRunner c("UTF-8");
    RunToEnd(c, "/bin/ls /proc/self/fd");
    EXPECT_EQ(c.CollectedOutput(), "0\n1\n2\n3\n");
    EXPECT_TRUE(a.IsChildRunning());
    EXPECT_TRUE(b.IsChildRunning());

    ASSERT_TRUE(a.WaitForChildEnd(20s));
    ASSERT_TRUE(b.WaitForChildEnd(20s));
    a.StopChild();
    b.StopChild();
    std::string expected_a, expected_b;
    for (int i = 1; i <= 40; ++i) {
        expected_a += "A " + std::to_string(i) + "\n";
        expected_b += "B " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(a.CollectedOutput(), expected_a);
    EXPECT_EQ(b.CollectedOutput(), expected_b);
}

TEST(ChildProcessRunner, CopesWithChildrenReapedBehindItsBack) {
    // With SIGCHLD ignored the kernel reaps children itself: their pids may
    // pass to others at once, so the runner must neither wait for nor signal
    // them afterwards.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction old {};
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &old), 0);
    RecordingRunner ended("UTF-8");
    RunToEnd(ended, "/bin/echo reaped");
    EXPECT_EQ(ended.CollectedOutput(), "reaped\n");
    EXPECT_FALSE(ended.ChildExitStatus().has_value());

    RecordingRunner endless("UTF-8");
    ASSERT_TRUE(endless.StartChild("/bin/sleep 1000", false));
    const auto start = std::chrono::steady_clock::now();
    endless.StopChild();
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_FALSE(endless.IsChildRunning());
    ASSERT_EQ(::sigaction(SIGCHLD, &old, nullptr), 0);
}

TEST(ChildProcessRunner, EveryDescriptorAndChildIsReleased) {
    TempDir dir;
    const auto stubborn = testing::WriteScript(dir, "stubborn.sh", "trap '' TERM\nsleep 1000\n");
    const int fds_before = testing::CountOpenFds();
    {
        RecordingRunner ended("UTF-8");
        RunToEnd(ended, "/bin/echo x");
        RecordingRunner failed("UTF-8");
        EXPECT_FALSE(failed.StartChild("/nonexistent-korvane/x", false));
        RecordingRunner stopped("UTF-8");
        ASSERT_TRUE(stopped.StartChild("/bin/sleep 1000", false));
        stopped.StopChild();
        // Left running: the destructor ends it.
        RecordingRunner abandoned("UTF-8");
        ASSERT_TRUE(abandoned.StartChild(stubborn.string(), false));
    }
    EXPECT_EQ(testing::CountOpenFds(), fds_before);
    EXPECT_TRUE(NoChildLeft());
}

}  // namespace
}  // namespace korvane
