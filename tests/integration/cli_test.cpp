#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/platform.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

// korvane-cli as the operator runs it: exit code and output, against devices on 127.0.91.x.
namespace korvane {
namespace {

using namespace std::chrono_literals;
using namespace testing;  // korvane::testing: the support helpers
using ::testing::AllOf, ::testing::Contains, ::testing::ContainsRegex, ::testing::Each,
    ::testing::ElementsAre, ::testing::EndsWith, ::testing::Gt, ::testing::HasSubstr, ::testing::Le,
    ::testing::MatchesRegex, ::testing::SizeIs, ::testing::StartsWith;
using Bytes = std::vector<std::uint8_t>;

const std::string ABC = std::string(ABC_MD5);
const std::string ZERO(32, '0');
const std::string CODE = "11223344-5566-7788-6272-61636B6C6531";
const std::string MODULE = "4472697665724d616e61676572\n";  // the header's module name

struct Row {
    std::vector<std::string> args;  // "@" stands for the row's own device
    int exit_code;
    std::string out, err;               // what stdout and stderr hold; "": nothing at all
    devsim::FaultPlan faults = {};      // of the row's simulated device
    std::vector<std::string> env = {};  // NAME=VALUE
    std::optional<std::string> in = std::nullopt;  // standard input ("@" too); none: /dev/null
};

// True when `text` holds `part`; an empty `part` asks for an empty `text`.
bool Shows(const std::string& text, const std::string& part) {
    return part.empty() ? text.empty() : text.find(part) != std::string::npos;
}

TEST(Cli, ExitCodesAndWhatTheOperatorSees) {
    const TempDir dir;
    (void)dir.WriteFile("fw.zip", Bytes(10, 'a'));
    (void)dir.WriteFile("fw\xFF\xC3.zip", Bytes(10, 'a'));
    (void)dir.WriteFile("abc.zip", Bytes{'a', 'b', 'c'});
    (void)dir.WriteFile("empty.zip", {});
    std::filesystem::resize_file(dir.WriteFile("huge.zip", {}), std::uintmax_t{1} << 32);
    ASSERT_TRUE(ON_WINDOWS || ::mkfifo((dir.Path() / "fifo").string().c_str(), 0644) == 0);
    std::ofstream(dir.Path() / "rack.txt", std::ios::binary)
        << std::string(1 << 20, '#') << "\n127.0.91.19\n";
    std::ofstream(dir.Path() / "notes.txt", std::ios::binary) << "# the rack is empty for now\n\n";
    std::ofstream(dir.Path() / "typo.txt", std::ios::binary)
        << "# CRLF, CR and LF each end one line\r\n127.0.91.1\r127.0.0\n";
    // clang-format off
    std::vector<Row> rows = {
        // A refused command line names what is wrong, in words, and exits 2.
        {{}, 2, "", "korvane-cli: no subcommand given (one of: inspect, ping, restore-ip, machine-code, download)\n"},
        {{"bogus"}, 2, "", "korvane-cli: unknown subcommand 'bogus' (one of: inspect, "},
        {{"download", "--prot", "5", "fw.zip"}, 2, "", "korvane-cli download: unknown option '--prot'\nSee 'korvane-cli download --help'.\n"},
        {{"ping", "--ip", "@", "--ip", "@"}, 2, "", "korvane-cli ping: --ip may be given once, not twice\n"},
        {{"ping", "--count", "0", "--ip", "@"}, 2, "", "--count: at least one echo request is needed, not 0\n"},
        // Help ends with examples and the exit codes, and shows no parser jargon.
        {{"--help"}, 0, "machine-code --json --targets rack.txt\n\nExit codes: 0 success; ", ""},
        {{"ping", "--help"}, 0, "  -c,--count N                Echo requests to send (default 4)\n\nExamples:\n  korvane-cli ping --ip ", ""},
        {{"inspect", "--help"}, 0, "Examples:\n  korvane-cli inspect firmware.zip\n", ""},
        {{"restore-ip", "--help"}, 0, "Examples:\n  korvane-cli restore-ip --ip ", ""},
        {{"machine-code", "--help"}, 0, "(SIGINT); 143 cut short by SIGTERM.\n", ""},
        // md5 is the file's, as md5sum prints it; the header of an empty file carries zeros.
        {{"inspect", "empty.zip"}, 0, "length: 0\nmd5: d41d8cd98f00b204e9800998ecf8427e\nheader digest: " + ZERO + "\ndatagrams: 2\nheader: 11000000000000" + ZERO, ""},
        {{"inspect", "abc.zip"}, 0, "file: abc.zip\nlength: 3\nmd5: " + ABC + "\nheader digest: " + ABC + "\ndatagrams: 3\nheader: 11000000000003" + ABC + MODULE, ""},
        {{"inspect", "--json", "empty.zip"}, 0, R"({"file":"empty.zip","length":0,"md5":"d41d8cd98f00b204e9800998ecf8427e","header_digest":")" + ZERO +
         R"(","datagrams":2,"header":"11000000000000)" + ZERO + "4472697665724d616e61676572\"}\n", ""},
        {{"inspect", "none.zip"}, 2, "", "none.zip: no such file\n"},
        {{"ping", "--ip", "@"}, 0, ON_WINDOWS ? "Sent = 4, Received = 4" : "4 packets transmitted, 4 received", ""},
        {{"ping", "--ip", ""}, 2, "", "IP is empty\n"},
        {{"ping", "--ip", "127.0.0"}, 2, "", "IP is invalid: 127.0.0\n"},  // not pinged as 127.0.0.0
        {{"machine-code", "--targets", "-"}, 0, CODE + "\n", "", {}, {}, "# rack\n\n@\n"},
        {{"machine-code", "--ip", "@"}, 1, "", "answered without a machine code\n", {.refuse_nth = 1}},
        // Several devices are asked side by side: one line (or JSON object) each, in order.
        {{"machine-code", "--ip", "abc"}, 2, "", "IP is invalid: abc\n"},
        {{"restore-ip", "--ip", "@"}, 0, "还原IP地址成功\n", ""},
        {{"restore-ip", "--ip", "@"}, 1, "", "还原IP地址失败\n", {.refuse_nth = 1}},
        {{"machine-code", "--json", "--ip", "@"}, 0, R"({"address":"@","result":"succeeded","machine_code":")" + CODE + "\",\"reason\":null}\n", ""},
        {{"restore-ip", "--ip", ""}, 2, "", "IP is empty\n"},
        // Targets files: what is wrong, and where.
        {{"restore-ip", "--targets", "typo.txt"}, 2, "", "IP is invalid: typo.txt:3: 127.0.0\n"},
        {{"restore-ip", "--targets", "notes.txt"}, 2, "", "korvane-cli: targets file notes.txt: holds no address, only comments and blank lines\n"},
        {{"machine-code", "--ip", "@", "--targets", "-"}, 2, "", "korvane-cli: @ is given twice (--ip and <stdin>:2)\n", {}, {}, "# rack\n@\n"},
        // Not a terminal: plain progress lines on stderr, the last one complete.
        {{"download", "--ip", "@", "fw.zip"}, 0, "Succeed to download\n", "] 100%         10 B / 10 B  "},
        {{"download", "--help"}, 0, "[OPTIONS] FILE\n", ""},
        {{"download", "--help"}, 0, "Exit codes:\n  0 ", ""},
        // The file's MD5, as md5sum gives it, though the header carries zeros.
        {{"download", "--json", "-q", "--ip", "@", "empty.zip"}, 0, R"("length":0,"md5":"d41d8cd98f00b204e9800998ecf8427e","datagrams":2,)", "warning: empty.zip is empty"},
        // A refused attempt, then a whole new one from the header.
        {{"download", "--json", "--retries", "1", "--retry-delay", "0", "--ip", "@", "fw.zip"}, 0, R"("acknowledged":3,"result":"succeeded","reason":null,"attempts":2,)",
         ": refused by the device at datagram 0 (sequence 0); trying again in 0 s (attempt 2 of 2)\n", {.refuse_nth = 1}},
        {{"download", "--fast", "--json", "-q", "--ip", "@", "fw.zip"}, 0, ",\"mode\":\"fast\"}\n", ""},
        // The route: a trace of every datagram; where to send from, checked first.
        {{"download", "-v", "--ip", "@", "fw.zip"}, 0, "Succeed to download\n", " @ > header seq 0, 36 bytes\n"},
        {{"machine-code", "-v", "--ip", "@"}, 1, "", " @ < 81 00 00 15\n", {.refuse_nth = 1}},
        {{"machine-code", "--source", "bogus", "--ip", "@"}, 2, "", "--source bogus: not a local IPv4 address"},
        {{"restore-ip", "--port", "0", "--ip", "@"}, 2, "", "--port: Value 0 not in range 1 to 65535"},
        {{"download", "-q", "--interface", "nosuchif0", "--ip", "@", "fw.zip"}, 1, "Failed to download\n", ON_WINDOWS ? "初始化UDP失败: Operation not supported\n" : "初始化UDP失败: No such device\n"},
        {{"download", "-q", "--ip", "@", "fw.zip"}, 1, "Failed to download\n", ": refused by the device at datagram 1 (sequence 1)\n", {.refuse_nth = 2}},
        {{"download", "--json", "-q", "--retries", "0", "--ip", "@", "fw.zip"}, 1, R"j("acknowledged":1,"result":"failed","reason":"timed out waiting for datagram 1 (sequence 1)","attempts":1,)j", "", {.drop_reply_nth = 2}},
        // Every input is checked before anything is sent.
        {{"download", "--ip", "@", ""}, 2, "", "Please select firmware!\n"},
        {{"download", "--ip", "@", "none.zip"}, 2, "", "Firmware is not exist, please select firmare again.: none.zip: No such file or directory\n"},
        {{"download", "--ip", "@"}, 2, "", "FILE is required"},
        {{"download", "fw.zip"}, 2, "", "IP is empty: give --ip ADDRESS or --targets FILE\n"},
        {{"download", "--targets", "notes.txt", "fw.zip"}, 2, "", "korvane-cli: targets file notes.txt: holds no address, only comments and blank lines\n"},
        {{"download", "--ip", "", "fw.zip"}, 2, "", "IP is empty\n"},
        {{"download", "--ip", "@", "--ip", "bogus", "fw.zip"}, 2, "", "IP is invalid: bogus\n"},
        {{"download", "--ip", "@", "--ip", "@", "fw.zip"}, 2, "", "is given twice (--ip and --ip)"},
        {{"download", "--ip", "@", "."}, 2, "", "Failed to read firmware!: .: Is a directory\n"},
        {{"download", "--ip", "@", "huge.zip"}, 2, "", "Firmware is too large!: huge.zip: 4294967296 bytes; a download carries at most 4294967295\n"},
        {{"download", "--ip", "@", "--targets", "none", "fw.zip"}, 2, "", "none: no such file\n"},
        {{"download", "--targets", ".", "fw.zip"}, 2, "", "targets file .: is a folder"},
        {{"download", "--targets", "rack.txt", "fw.zip"}, 2, "", "rack.txt: is larger than 1 MiB"},
    };
    // What has no Windows form: a FIFO, /dev/zero, a file name that is no
    // UTF-16, a search for ping that fails, and (wine binds every 127.x as
    // 0.0.0.0) a second address that must stay silent on the first's port.
    const std::vector<Row> posix_rows = {
        {{"inspect", "fifo"}, 2, "", "cannot be read"},
        {{"ping", "--ip", "@"}, 1, "", "Unable to start ping -c 4 127.0.91.", {}, {"PATH=/none"}},
        {{"machine-code", "--ip", "@", "--ip", "127.0.91.250"}, 1, "@   " + CODE + "\n127.0.91.250  无响应，读取机器码失败，请检查网线！\n", ""},
        {{"restore-ip", "--json", "--ip", "127.0.91.250", "--ip", "@"}, 1, R"({"address":"127.0.91.250","result":"failed","reason":"no reply within 5 s"})" "\n"
         R"({"address":"@","result":"failed","reason":"refused by the device"})" "\n", "", {.refuse_nth = 1}},
        // One JSON line, valid UTF-8 whatever the file name's bytes.
        {{"download", "--json", "-q", "--ip", "@", "fw\xFF\xC3.zip"}, 0, R"({"address":"@","file":"fw\udcff\udcc3.zip","length":10,)"
         R"("md5":"e09c80c42fda55f9d992e59ca6b3307d","datagrams":3,"acknowledged":3,"result":"succeeded","reason":null,"attempts":1,"seconds":)", ""},
        {{"download", "--targets", "fifo", "fw.zip"}, 2, "", "fifo: is not a regular file"},
        {{"download", "--targets", "/dev/zero", "fw.zip"}, 2, "", "zero: is not a regular file"},
    };
    // clang-format on
    if (!ON_WINDOWS) {
        rows.insert(rows.end(), posix_rows.begin(), posix_rows.end());
    }
    const auto working_folder = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());  // the children's too
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const std::string address = "127.0.91." + std::to_string(20 + i);
        const auto fill = [&](const std::string& text) {
            return std::regex_replace(text, std::regex("@"), address);
        };
        std::vector<std::string> argv;
        if (!row.env.empty()) {
            argv = {"env"};
            argv.insert(argv.end(), row.env.begin(), row.env.end());
        }
        argv.push_back(BinPath("korvane-cli"));
        std::ranges::transform(row.args, std::back_inserter(argv), fill);
        // Where each device has a port of its own, a device command is told it.
        const bool to_device = !row.args.empty() && row.args[0] != "inspect" &&
                               row.args[0] != "ping" &&
                               (std::ranges::count(row.args, "@") > 0 || row.in) &&
                               std::ranges::count(row.args, "--port") == 0;
        if (DevicePort(address) != DEVICE_PORT && to_device) {
            argv.insert(argv.end() - static_cast<std::ptrdiff_t>(row.args.size()) + 1,
                        {"--port", std::to_string(DevicePort(address))});
        }
        SCOPED_TRACE(::testing::PrintToString(row.args));
        const auto device = StartDevice(address, row.faults);
        const ProcessResult run =
            RunProcess(argv, row.in ? std::optional(fill(*row.in)) : std::nullopt, 15s);
        EXPECT_EQ(run.exit_code, row.exit_code) << run.out << run.err;
        EXPECT_TRUE(Shows(run.out, fill(row.out))) << run.out;
        EXPECT_TRUE(Shows(run.err, fill(row.err))) << run.err;
        // A refused command line or input sends nothing.
        EXPECT_TRUE(row.exit_code != 2 || device->Received().empty());
    }
    std::filesystem::current_path(working_folder);
}

// One refusing device fails only itself (the others check length and MD5 before they
// acknowledge the end). The targets file has a byte-order mark and CRLF, CR and LF line ends.
TEST(Cli, FleetDeviceThatRefusesFailsOnlyItself) {
    if (ON_WINDOWS) {
        GTEST_SKIP()
            << "wine binds every 127.x as 0.0.0.0: the devices of a fleet cannot share a port";
    }
    auto first = StartDevice("127.0.91.2");
    auto refusing = StartDevice("127.0.91.3", {.refuse_nth = 3});
    auto third = StartDevice("127.0.91.4");
    const TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", SampleBytes(50000)).string();
    std::ofstream(dir.Path() / "rack.txt", std::ios::binary)
        << "\xEF\xBB\xBF# rack\r\n127.0.91.2\r\n127.0.91.3  # x\r127.0.91.4\n";
    const ProcessResult run = RunProcess({BinPath("korvane-cli"), "download", "--targets",
                                          (dir.Path() / "rack.txt").string(), file});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(SplitLines(run.out),
                ElementsAre("ADDRESS     RESULT      SECONDS  REASON",
                            StartsWith("127.0.91.2  succeeded  "),
                            EndsWith("  refused by the device at datagram 2 (sequence 2)"),
                            StartsWith("127.0.91.4  succeeded  "),
                            "Failed to download: 1 failed (127.0.91.3), 2 succeeded"));
    EXPECT_THAT(run.err, HasSubstr("3 devices ["));  // one progress line for the fleet
}

// A signal cuts each 5 s wait short, like the window's close box: SIGTERM fails
// every job of a fleet (none tried again), SIGINT the machine code's requests.
// All devices see their datagram within 4 s only when they are served side by side.
TEST(Cli, SignalsEndTheWaitsForRepliesAtOnce) {
    if (ON_WINDOWS) {
        GTEST_SKIP() << "no Ctrl-C can be sent to a child under wine "
                        "(scripts/windows-cross-check.sh sends it from outside)";
    }
    std::vector<std::unique_ptr<devsim::DeviceSimulator>> devices;
    for (const char* address : {"127.0.91.5", "127.0.91.6", "127.0.91.7"}) {
        devices.push_back(StartDevice(address, {.drop_reply_nth = 2}));
    }
    auto silent = StartDevice("127.0.91.10", {.drop_reply_nth = 1});
    auto mute = StartDevice("127.0.91.11", {.drop_reply_nth = 1});
    const TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", SampleBytes(20000)).string();
    const auto start = std::chrono::steady_clock::now();
    ChildProcess fleet({BinPath("korvane-cli"), "download", "--retries", "1", "--ip", "127.0.91.5",
                        "--ip", "127.0.91.6", "--ip", "127.0.91.7", file});
    ChildProcess code(
        {BinPath("korvane-cli"), "machine-code", "--ip", "127.0.91.10", "--ip", "127.0.91.11"});
    const auto waiting = [&] {
        return silent->Received().size() == 1 && mute->Received().size() == 1 &&
               std::ranges::all_of(devices, [](auto& d) { return d->Received().size() == 2; });
    };
    ASSERT_TRUE(WaitUntil(waiting, 4s));
    fleet.Signal(SIGTERM);
    code.Signal(SIGINT);
    const ProcessResult run = fleet.Finish(10s);
    const ProcessResult coded = code.Finish(10s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4500ms);
    EXPECT_EQ(run.exit_code, 143) << run.err;
    EXPECT_EQ(coded.exit_code, 130) << coded.err;
    const auto failed = MatchesRegex(".*  failed  .*  cancelled at datagram 1 \\(sequence 1\\)");
    EXPECT_THAT(SplitLines(run.out),
                ElementsAre(StartsWith("ADDRESS"), failed, failed, failed,
                            StartsWith("Failed to download: 3 failed (127.0.91.5, ")));
    EXPECT_THAT(SplitLines(coded.out),
                ElementsAre("127.0.91.10  cancelled", "127.0.91.11  cancelled"));
    EXPECT_TRUE(waiting());  // nothing was sent after the signal
}

// Ctrl-C during the pause before another attempt ends it at once, with the last
// attempt's result.
TEST(Cli, SigintEndsThePauseBeforeARetry) {
    if (ON_WINDOWS) {
        GTEST_SKIP() << "no Ctrl-C can be sent to a child under wine "
                        "(scripts/windows-cross-check.sh sends it from outside)";
    }
    auto refusing = StartDevice("127.0.91.14", {.refuse_nth = 1});
    const TempDir dir;
    const std::string file = dir.WriteFile("fw.zip", SampleBytes(100)).string();
    ChildProcess cli({BinPath("korvane-cli"), "download", "--retries", "3", "--retry-delay", "60",
                      "--ip", "127.0.91.14", file});
    ASSERT_TRUE(cli.WaitForLine(ChildProcess::Stream::Err, "trying again in 60 s", 10s));
    const auto signalled = std::chrono::steady_clock::now();
    cli.Signal(SIGINT);
    const ProcessResult run = cli.Finish(10s);
    EXPECT_EQ(run.exit_code, 130) << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
    EXPECT_EQ(run.out, "Failed to download\n");
    EXPECT_THAT(run.err, HasSubstr("127.0.91.14: refused by the device at datagram 0"));
    EXPECT_EQ(refusing->Received().size(), 1u);
}

// Under a pseudo-terminal a fleet gets one line per device, redrawn in place, never wider
// than the terminal and narrower once it is; without a size, COLUMNS tells the width.
TEST(Cli, ProgressFitsTheTerminal) {
    if (ON_WINDOWS) {
        GTEST_SKIP() << "a pseudo-terminal (script, stty) is POSIX's";
    }
    auto first = StartDevice("127.0.91.12");
    auto second = StartDevice("127.0.91.13");
    const TempDir dir;
    const std::string big = dir.WriteFile("big.zip", SampleBytes(1'600'000)).string();
    const std::string small = dir.WriteFile("small.zip", SampleBytes(100)).string();
    const std::string cli = BinPath("korvane-cli") + " download --ip 127.0.91.12 ";
    const auto segments = [](const std::string& text) {  // what each redraw shows
        const std::string plain = std::regex_replace(text, std::regex("\x1b\\[[0-9]*[AK]"), "");
        const std::regex ends("[\r\n]");
        return std::vector<std::string>(
            std::sregex_token_iterator(plain.begin(), plain.end(), ends, -1), {});
    };
    const ProcessResult fleet = RunProcess({"script", "-q", "-e", "-c",
                                            "stty cols 60 rows 10; " + cli + "--ip 127.0.91.13 " +
                                                big + " & sleep 1; stty cols 45; wait $!",
                                            "/dev/null"});
    ASSERT_EQ(fleet.exit_code, 0) << fleet.out;
    EXPECT_THAT(fleet.out, HasSubstr("\x1b[2A\r127.0.91.12  ["));
    std::size_t widest = 0;
    std::string last;  // the last line of the second device
    for (const std::string& part : segments(fleet.out)) {
        widest = std::max(widest, part.size());
        last = part.starts_with("127.0.91.13  [") ? part : last;
    }
    EXPECT_THAT(widest, AllOf(Gt(45u), Le(60u)));
    EXPECT_THAT(last, AllOf(EndsWith("100%  succeeded"), SizeIs(Le(45u))));

    const ProcessResult one = RunProcess(
        {"script", "-q", "-e", "-c", "stty cols 0 rows 0; COLUMNS=25 " + cli + small, "/dev/null"});
    ASSERT_EQ(one.exit_code, 0) << one.out;
    EXPECT_THAT(segments(one.out), Contains("[##################] 100%"));
    EXPECT_THAT(segments(one.out), Each(SizeIs(Le(25u))));
}

// Ctrl-C during a long ping: its lines show as they come, the interrupt reaches ping,
// whose statistics follow, and nothing of its process group outlives korvane-cli.
TEST(Cli, CtrlCGivesPingsStatisticsAndExits130) {
    if (ON_WINDOWS) {
        GTEST_SKIP() << "no Ctrl-C can be sent to a child under wine "
                        "(scripts/windows-cross-check.sh sends it from outside)";
    }
    ChildProcess cli({BinPath("korvane-cli"), "ping", "--ip", "127.0.0.2", "--count", "100"});
    ASSERT_TRUE(cli.WaitForLine(ChildProcess::Stream::Out, "PING 127.0.0.2", 10s));
    const std::vector<std::string> find = {"pgrep", "-x", "-P", std::to_string(cli.Pid()), "ping"};
    const std::string ping = RunProcess(find).out;
    ASSERT_FALSE(ping.empty());
    cli.Signal(SIGINT);
    const ProcessResult run = cli.Finish(10s);
    EXPECT_EQ(run.exit_code, 130) << run.err;
    EXPECT_THAT(run.out, HasSubstr("\n--- 127.0.0.2 ping statistics ---\n"));
    EXPECT_THAT(run.out, ContainsRegex("\n[0-9]+ packets transmitted, [0-9]+ received"));
    EXPECT_NE(::kill(-std::stoi(ping), SIGKILL), 0) << "ping's process group outlived korvane-cli";
}

}  // namespace
}  // namespace korvane
