#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.hpp"
#include "support/child_scripts.hpp"
#include "support/run_process.hpp"
#include "support/sample_bytes.hpp"
#include "support/scripted_device.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

// korvane-cli as the operator runs it: a real process, its exit code and what
// it prints, against devices on 127.0.91.x.
namespace korvane {
namespace {

using namespace std::chrono_literals;
using namespace testing;  // korvane::testing: the support helpers
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

const std::string MD5_ABC = "900150983cd24fb0d6963f7d28e17f72";     // RFC 1321's "abc"
const std::string DRIVER_MANAGER = "4472697665724d616e61676572\n";  // the header's module name

struct Row {
    // Run in the folder made below; IP: the row's own device; a leading NAME=VALUE goes
    // into the environment.
    std::vector<std::string> args;
    int exit_code;
    std::string out;                        // stdout holds this; "" means stdout is empty
    std::string err;                        // the same for stderr
    std::vector<std::string> replies = {};  // the device's answer to each datagram; "": none
};

// True when `text` holds `part`; an empty `part` asks for an empty `text`.
bool Shows(const std::string& text, const std::string& part) {
    return part.empty() ? text.empty() : text.find(part) != std::string::npos;
}

TEST(Cli, ExitCodesAndWhatTheOperatorSees) {
    const TempDir dir;
    (void)dir.WriteFile("fw.zip", Bytes(10, 'a'));
    (void)dir.WriteFile("abc.zip", Bytes{'a', 'b', 'c'});
    (void)dir.WriteFile("empty.zip", {});
    std::filesystem::resize_file(dir.WriteFile("huge.zip", {}), std::uintmax_t{1} << 32);
    ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0644), 0);
    std::ofstream(dir.Path() / "rack.txt") << std::string(1 << 20, '#') << "\n127.0.91.19\n";
    // clang-format off
    const std::vector<Row> rows = {
        {{}, 2, "", "A subcommand is required"},
        {{"--help"}, 0, "machine-code", ""},
        // An empty file is sent with an all-zero digest, not the MD5 of nothing.
        {{"inspect", "empty.zip"}, 0, "file: empty.zip\nlength: 0\nmd5: " + std::string(32, '0') +
         "\ndatagrams: 2\nheader: 11000000000000" + std::string(32, '0') + DRIVER_MANAGER, ""},
        {{"inspect", "abc.zip"}, 0, "file: abc.zip\nlength: 3\nmd5: " + MD5_ABC + "\ndatagrams: 3\n"
         "header: 11000000000003" + MD5_ABC + DRIVER_MANAGER, ""},
        {{"inspect", "none.zip"}, 2, "", "none.zip: no such file\n"},
        {{"inspect", "fifo"}, 2, "", "cannot be read"},
        {{"ping", "--ip", "IP"}, 0, "4 packets transmitted, 4 received", ""},
        {{"ping", "--ip", ""}, 2, "", "IP is empty\n"},
        {{"PATH=/none", "ping", "--ip", "IP"}, 1, "Unable to start ping -c 4 127.0.91.", ""},
        {{"ping", "--ip", "IP; touch X"}, 1, "ping: ", ""},  // no shell: X is not made
        {{"machine-code", "--ip", "IP"}, 0, "11223344-5566-7788-6272-61636B6C6531\n", "",
         {"81 00 00 06 00 0E 11 22 33 44 55 66 77 88"}},
        {{"machine-code", "--ip", "IP"}, 1, "", "answered without a machine code\n", {"81000015"}},
        {{"machine-code", "--ip", "IP"}, 1, "", "无响应，读取机器码失败，请检查网线！\n", {""}},
        {{"machine-code", "--ip", "abc"}, 2, "", "IP is invalid\n"},
        {{"restore-ip", "--ip", "IP"}, 0, "还原IP地址成功\n", "", {"43000006"}},
        {{"restore-ip", "--ip", "IP"}, 1, "", "还原IP地址失败\n", {"43000015"}},
        {{"restore-ip", "--ip", ""}, 2, "", "IP is empty\n"},
        // Not a terminal: plain progress lines on stderr, the last one complete.
        {{"download", "--ip", "IP", "fw.zip"}, 0, "Succeed to download\n", "100%  10 B / 10 B  ",
         {"11000006", "12000106", "13000206"}},
        {{"download", "-q", "--ip", "IP", "fw.zip"}, 1, "Failed to download\n",
         ": refused by the device at datagram 1 (sequence 1)\n", {"11000006", "12000115"}},
        {{"download", "-q", "--ip", "IP", "fw.zip"}, 1, "Failed to download\n",
         ": timed out waiting for datagram 1 (sequence 1)\n", {"11000006", ""}},
        // Every input is checked before anything is sent.
        {{"download", "--ip", "IP", ""}, 2, "", "Please select firmware!\n"},
        {{"download", "--ip", "IP", "none.zip"}, 2, "",
         "Firmware is not exist, please select firmare again.\n"},
        {{"download", "--ip", "", "fw.zip"}, 2, "", "IP is empty\n"},
        {{"download", "--ip", "IP", "--ip", "bogus", "fw.zip"}, 2, "", "IP is invalid: bogus\n"},
        {{"download", "--ip", "IP", "--ip", "IP", "fw.zip"}, 2, "", "are the same device"},
        {{"download", "--ip", "IP", "."}, 2, "", "Failed to read firmware!\n"},
        {{"download", "--ip", "IP", "huge.zip"}, 2, "", "Firmware is too large!\n"},
        {{"download", "--ip", "IP", "--targets", "none", "fw.zip"}, 2, "", "none: no such file\n"},
        {{"download", "--targets", ".", "fw.zip"}, 2, "", "targets file .: is a folder"},
        {{"download", "--targets", "fifo", "fw.zip"}, 2, "", "fifo: is not a regular file"},
        {{"download", "--targets", "/dev/zero", "fw.zip"}, 2, "", "zero: is not a regular file"},
        {{"download", "--targets", "rack.txt", "fw.zip"}, 2, "", "rack.txt: is larger than 1 MiB"},
    };
    // clang-format on
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const std::string address = "127.0.91." + std::to_string(20 + i);
        ProcessOptions options{.working_directory = dir.Path(), .timeout = 15s};
        std::vector<std::string> args;
        for (std::string arg : row.args) {
            arg = std::regex_replace(arg, std::regex("IP"), address);
            if (const auto equals = arg.find('='); args.empty() && equals != std::string::npos) {
                options.set_env[arg.substr(0, equals)] = arg.substr(equals + 1);
            } else {
                args.push_back(arg);
            }
        }
        SCOPED_TRACE(::testing::PrintToString(args));
        std::vector<ScriptedDevice::Reply> script;
        for (const std::string& reply : row.replies) {
            script.push_back({reply.empty() ? std::nullopt : std::optional(Hex(reply))});
        }
        const ScriptedDevice device(address, script);
        const ProcessResult run = RunCli(args, options);
        EXPECT_EQ(run.exit_code, row.exit_code) << run.out << run.err;
        EXPECT_TRUE(Shows(run.out, row.out)) << run.out;
        EXPECT_TRUE(Shows(run.err, row.err)) << run.err;
        EXPECT_LT(run.seconds, 10.0);  // nothing hangs (on a FIFO, say)
        EXPECT_EQ(device.Received().size(), row.replies.size());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "X"));
}

TEST(Cli, JsonStaysValidForAFileNameThatIsNotUtf8) {
    auto device = StartDevice("127.0.91.1");
    const TempDir dir;
    const std::string file = dir.WriteFile("fw\xFF\xC3.bin", Bytes(8001, 'a')).string();
    const ProcessResult run = RunCli({"download", "--json", "-q", "--ip", "127.0.91.1", file});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string prefix =
        "{\"address\":\"127.0.91.1\",\"file\":\"" + dir.Path().string() +
        "/fw\\udcff\\udcc3.bin\",\"length\":8001,\"md5\":\"1a79c2572ae9dbb446ec4f0bf97e1de6"
        "\",\"datagrams\":4,\"acknowledged\":4,\"result\":\"succeeded\","
        "\"reason\":null,\"seconds\":";
    EXPECT_EQ(run.out.substr(0, prefix.size()), prefix) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1);  // one object, one line
    // Strict UTF-8, then JSON; the name's own bytes come back.
    const ProcessResult parsed =
        RunProcess({"python3", "-c",
                    "import json, os, sys\n"
                    "print(os.fsencode(json.loads(sys.stdin.buffer.read().decode())['file']) == "
                    "os.fsencode(sys.argv[1]))",
                    file},
                   {.stdin_text = run.out});
    EXPECT_EQ(parsed.out, "True\n") << parsed.err;
}

// One refusing device fails only itself (the others check length and MD5 before
// they acknowledge the end). The targets file starts with a byte-order mark and
// mixes CRLF, CR and LF line ends.
TEST(Cli, FleetDeviceThatRefusesFailsOnlyItself) {
    auto first = StartDevice("127.0.91.2");
    auto refusing = StartDevice("127.0.91.3", {.refuse_nth = 3});
    auto third = StartDevice("127.0.91.4");
    const TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", SampleBytes(50000)).string();
    const std::string rack =
        "\xEF\xBB\xBF# rack\r\n127.0.91.2\r\n127.0.91.3  # spare\r127.0.91.4\n";
    const auto targets = dir.WriteFile("rack.txt", Bytes(rack.begin(), rack.end()));
    const ProcessResult run = RunCli({"download", "--targets", targets.string(), file});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(SplitLines(run.out),
                ::testing::ElementsAre(
                    "ADDRESS     RESULT      SECONDS  REASON",
                    ::testing::StartsWith("127.0.91.2  succeeded  "),
                    ::testing::EndsWith("  refused by the device at datagram 2 (sequence 2)"),
                    ::testing::StartsWith("127.0.91.4  succeeded  "), "Failed to download"));
    EXPECT_THAT(run.err, HasSubstr("3 devices ["));  // one progress line for the fleet
    EXPECT_EQ(refusing->Received().size(), 3u);
}

// SIGTERM cancels every job like the window's close box; the table follows.
// The check that all three have begun also shows they run side by side: one
// after another, the first would have finished before the last began.
TEST(Cli, SigtermFailsEveryRunningJobOfAFleet) {
    std::vector<std::unique_ptr<devsim::DeviceSimulator>> devices;
    for (const char* address : {"127.0.91.5", "127.0.91.6", "127.0.91.7"}) {
        devices.push_back(StartDevice(address, {.reply_delay = 300ms}));
    }
    const TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", SampleBytes(40000)).string();
    ChildProcess cli({BinPath("korvane-cli"), "download", "--ip", "127.0.91.5", "--ip",
                      "127.0.91.6", "--ip", "127.0.91.7", file});
    for (const auto& device : devices) {
        ASSERT_TRUE(WaitUntil([&] { return !device->Received().empty(); }, 10s));
    }
    cli.Signal(SIGTERM);
    const ProcessResult run = cli.Finish(10s);
    EXPECT_EQ(run.exit_code, 143) << run.err;
    const auto failed = ::testing::MatchesRegex(".*  failed  .*  cancelled at datagram .*");
    EXPECT_THAT(SplitLines(run.out),
                ::testing::ElementsAre(::testing::StartsWith("ADDRESS"), failed, failed, failed,
                                       "Failed to download"));
}

TEST(Cli, SigintFailsADownloadAtOnce) {
    auto device = StartDevice("127.0.91.8", {.drop_reply_nth = 2});
    const TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", SampleBytes(20000)).string();
    ChildProcess cli({BinPath("korvane-cli"), "download", "--ip", "127.0.91.8", file});
    ASSERT_TRUE(WaitUntil([&] { return device->Received().size() == 2; }, 10s));
    cli.Signal(SIGINT);
    const ProcessResult run = cli.Finish(10s);
    EXPECT_LT(run.seconds, 4.5);  // the 5 s wait was cut short
    EXPECT_EQ(run.exit_code, 130) << run.err;
    EXPECT_EQ(run.out, "Failed to download\n");
    EXPECT_THAT(run.err, HasSubstr("127.0.91.8: cancelled at datagram 1 (sequence 1)\n"));
    EXPECT_EQ(device->Received().size(), 2u);
}

// The pid of the process named `name` whose parent is `parent`; 0 while none.
pid_t ChildNamed(pid_t parent, const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, comm, state;
        pid_t ppid = 0;
        if (stat >> pid >> comm >> state >> ppid && ppid == parent && comm == "(" + name + ")") {
            return std::stoi(pid);
        }
    }
    return 0;
}

TEST(Cli, SigintEndsPingAndItsProcessGroup) {
    ChildProcess cli({BinPath("korvane-cli"), "ping", "--ip", "127.0.91.9 -c 40"});
    pid_t ping = 0;
    ASSERT_TRUE(WaitUntil([&] { return (ping = ChildNamed(cli.Pid(), "ping")) != 0; }, 10s));
    std::this_thread::sleep_for(1s);  // a reply or two
    cli.Signal(SIGINT);
    const ProcessResult run = cli.Finish(10s);
    EXPECT_EQ(run.exit_code, 130) << run.err;
    EXPECT_THAT(run.out, HasSubstr("bytes from 127.0.91.9"));  // what ping printed so far
    EXPECT_NE(::kill(-ping, 0), 0) << "ping's process group outlived korvane-cli";
    if (::kill(-ping, 0) == 0) {
        ::kill(-ping, SIGKILL);
    }
}

TEST(Cli, SigtermEndsTheMachineCodeWaitAtOnce) {
    const ScriptedDevice device("127.0.91.10", {{std::nullopt}});
    ChildProcess cli({BinPath("korvane-cli"), "machine-code", "--ip", "127.0.91.10"});
    ASSERT_TRUE(WaitUntil([&] { return device.Received().size() == 1; }, 10s));
    cli.Signal(SIGTERM);
    const ProcessResult run = cli.Finish(10s);
    EXPECT_EQ(run.exit_code, 143) << run.err;
    EXPECT_LT(run.seconds, 4.5);  // the 5 s wait was cut short
}

}  // namespace
}  // namespace korvane
