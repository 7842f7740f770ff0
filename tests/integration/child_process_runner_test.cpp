#include "proc/child_process_runner.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "proc/run_and_collect.hpp"
#include "support/child_process.hpp"
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;

// Keeps each stream's text and counts the start and end hooks; `out` and
// `err` are read only after StopChild, when the readers have ended.
class Recorder : public ChildProcessRunner {
public:
    Recorder() : ChildProcessRunner("UTF-8") {}
    ~Recorder() override { StopChild(); }
    std::string out, err;
    std::atomic<int> started{0}, ended{0};

protected:
    void OnChildStarted(const std::string& /*command*/) override { ++started; }
    void OnChildStdOutWrite(std::string_view text) noexcept override {
        out += text;
        ChildProcessRunner::OnChildStdOutWrite(text);
    }
    void OnChildStdErrWrite(std::string_view text) noexcept override {
        err += text;
        ChildProcessRunner::OnChildStdErrWrite(text);
    }
    void OnChildTerminate() noexcept override { ++ended; }
};

void RunToEnd(ChildProcessRunner& runner, const std::string& command) {
    ASSERT_TRUE(runner.StartChild(command, false)) << runner.CollectedOutput();
    ASSERT_TRUE(runner.WaitForChildEnd(20s));
    runner.StopChild();
}

// Descriptors of this process: all, or only those that a child started by any
// means would inherit (not close-on-exec).
int OpenFds(bool inheritable_only = false) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        count += !inheritable_only || (::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0 ? 1 : 0;
    }
    return count;
}

bool NoChildLeft() {
    errno = 0;
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// A child that prints on both streams and exits at once, many times: nothing is
// lost, a character split between two reads comes out whole and one cut off at
// the end as U+FFFD, each hook runs once. One that cannot start says so and
// calls none. Either way no descriptor and no child is left.
TEST(ChildProcessRunner, DeliversAllTheChildPrintedAndItsExitStatus) {
    testing::TempDir dir;
    const std::string line = std::string(259, 'a') + "€ split between two reads\n";
    const auto script = dir.WriteScript(
        "print.sh",
        "echo " + line + "echo 'last error' >&2\nprintf 'no line feed \\342\\202'\nexit 3\n");
    const int fds_before = OpenFds();
    for (int round = 0; round < 100; ++round) {
        Recorder runner;
        RunToEnd(runner, script.string());
        ASSERT_EQ(runner.out, line + "no line feed \xEF\xBF\xBD") << "round " << round;
        ASSERT_EQ(runner.err, "last error\n") << "round " << round;
        ASSERT_EQ(runner.ChildExitStatus(), 3);
        ASSERT_EQ(std::pair(runner.started.load(), runner.ended.load()), std::pair(1, 1));
    }
    for (const std::string command :
         {"/nonexistent-korvane/program -x 1", "korvane-not-there", ""}) {
        Recorder runner;
        EXPECT_FALSE(runner.StartChild(command, false));
        EXPECT_FALSE(runner.IsChildRunning());
        EXPECT_EQ(runner.err, "Unable to start " + command + "\n");
        EXPECT_EQ(runner.CollectedOutput(), runner.err);
        EXPECT_EQ(std::pair(runner.started.load(), runner.ended.load()), std::pair(0, 0));
    }
    EXPECT_EQ(OpenFds(), fds_before);
    EXPECT_TRUE(NoChildLeft());
}

// cat waits on its standard input, which stays open: it runs until stopped,
// beside other runners, and no child started meanwhile inherits its pipes.
TEST(ChildProcessRunner, RunsBesideOtherRunnersUntilStopped) {
    const int inheritable = OpenFds(true);
    Recorder waiting;
    ASSERT_TRUE(waiting.StartChild("/bin/cat", false));
    EXPECT_EQ(OpenFds(true), inheritable);
    Recorder other;
    RunToEnd(other, "/bin/ls /proc/self/fd");
    EXPECT_EQ(other.out, "0\n1\n2\n3\n");  // 3 is ls's own listing
    EXPECT_TRUE(waiting.IsChildRunning());
    waiting.StopChild();
    EXPECT_EQ(waiting.ChildExitStatus(), 128 + SIGTERM);
    {
        ChildProcessRunner abandoned;  // its destructor ends the child
        ASSERT_TRUE(abandoned.StartChild("/bin/cat", false));
    }
    EXPECT_TRUE(NoChildLeft());
}

// A child that ignores SIGTERM is killed with all it started; one that left
// the group and keeps the pipes open does not hold StopChild either.
TEST(ChildProcessRunner, StopEndsTheChildsGroupAndReturns) {
    testing::TempDir dir;
    const auto stubborn =
        dir.WriteScript("stubborn.sh", "trap '' TERM\nsleep 1000 &\necho $!\nwait\n");
    Recorder runner;
    ASSERT_TRUE(runner.StartChild(stubborn.string(), false));
    ASSERT_TRUE(testing::WaitUntil([&] { return !runner.CollectedOutput().empty(); }, 10s));
    runner.StopChild();
    EXPECT_EQ(runner.ChildExitStatus(), 128 + SIGKILL);
    // Its sleep is gone too, or a zombie left to whoever adopted it.
    EXPECT_TRUE(testing::WaitUntil(
        [stat_path = "/proc/" + std::to_string(std::stoi(runner.out)) + "/stat"] {
            std::ifstream stat(stat_path);
            std::string pid, name, state;
            return !(stat >> pid >> name >> state) || state == "Z";
        },
        5s));

    const auto escape = dir.WriteScript("escape.sh", "setsid sleep 1000 &\necho $!\necho done\n");
    Recorder escaped;
    RunToEnd(escaped, escape.string());
    ::kill(std::stoi(escaped.out), SIGKILL);
    EXPECT_EQ(escaped.out.substr(escaped.out.find('\n')), "\ndone\n");
    EXPECT_TRUE(NoChildLeft());
}

// No shell reads the command line; what the command started prints after it
// has ended (more than a pipe holds) is kept. At the limit a command is ended
// (killed: it ignores SIGTERM) and what it printed so far is kept.
TEST(RunAndCollect, GathersAllTheCommandPrintedWithinTheLimit) {
    testing::TempDir dir;
    const auto script =
        dir.WriteScript("both.sh", "echo to-err >&2\necho \"$@\"\n(sleep 0.1; seq 20000) &\n");
    CollectedRun run = RunAndCollect(script.string() + " $HOME a;b `id` 'x y' >x");
    EXPECT_TRUE(run.started && !run.timed_out);
    EXPECT_EQ(run.exit_status, 0);
    std::string out = "$HOME a;b `id` 'x y' >x\n";
    for (int i = 1; i <= 20000; ++i) {
        out += std::to_string(i) + "\n";
    }
    const auto err = run.output.find("to-err\n");
    ASSERT_NE(err, std::string::npos);
    EXPECT_EQ(run.output.erase(err, 7), out);

    EXPECT_EQ(RUN_AND_COLLECT_LIMIT, 60s);
    const auto endless =
        dir.WriteScript("endless.sh", "trap '' TERM\necho before\nwhile :; do sleep 1; done\n");
    const auto start = std::chrono::steady_clock::now();
    run = RunAndCollect(endless.string(), 300ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_TRUE(run.timed_out);
    EXPECT_EQ(run.exit_status, 128 + SIGKILL);
    EXPECT_EQ(run.output, "before\n");
}

// What the command prints reaches the handler while it runs, each stream apart
// (the interrupt waits for the first line). The interrupt reaches the command,
// which may print a summary and end; one that ignores it ends after INTERRUPT_GRACE.
TEST(RunAndStream, HandsOverTheOutputAsItComesAndPassesAnInterruptOn) {
    testing::TempDir dir;
    const std::vector<std::tuple<std::string, int, std::string>> rows = {
        {"trap 'echo summary; exit 0' INT", 0, "summary\n"},
        {"trap '' INT", 128 + SIGTERM, ""},
    };
    for (const auto& [trap, status, summary] : rows) {
        const auto script = dir.WriteScript(
            "forever.sh", trap + "\necho ready\necho err >&2\nwhile :; do sleep 0.1; done\n");
        std::mutex mutex;
        std::string out, err;
        const auto start = std::chrono::steady_clock::now();
        const RunOutcome outcome = RunAndStream(
            script.string(),
            [&](ChildStream stream, std::string_view text) {
                const std::lock_guard lock(mutex);
                (stream == ChildStream::Out ? out : err) += text;
            },
            30s,
            [&] {
                const std::lock_guard lock(mutex);
                return out == "ready\n";
            });
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(outcome.interrupted && !outcome.timed_out) << trap;
        EXPECT_EQ(outcome.exit_status, status) << trap;
        EXPECT_EQ(out, "ready\n" + summary);
        EXPECT_EQ(err, "err\n");
        EXPECT_LT(took, 10s);
        EXPECT_GE(took, summary.empty() ? INTERRUPT_GRACE : 0ms);
    }
    EXPECT_TRUE(NoChildLeft());
}

}  // namespace
}  // namespace korvane
