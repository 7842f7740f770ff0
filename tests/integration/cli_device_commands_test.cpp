#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/run_process.hpp"
#include "support/scripted_device.hpp"

// korvane-cli restore-ip and machine-code as the operator runs them, against a
// scripted device on 127.0.5.2x.
namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedDevice;
using Bytes = std::vector<std::uint8_t>;

struct CliCase {
    const char* name;
    const char* subcommand;
    const char* address;
    std::vector<ScriptedDevice::Reply> script;
    int exit_code;
    std::string out;
    std::string err;
};

TEST(CliDeviceCommands, OutputsAndExitCodes) {
    const std::vector<CliCase> cases = {
        {"machine code",
         "machine-code",
         "127.0.5.21",
         {{Bytes{0x81, 0, 0, 6, 0, 0x0E, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 0ms}},
         0,
         "11223344-5566-7788-6272-61636B6C6531\n",
         ""},
        {"machine code refused",
         "machine-code",
         "127.0.5.22",
         {{Bytes{0x81, 0, 0, 0x15}, 0ms}},
         1,
         "",
         "korvane-cli: the device answered without a machine code\n"},
        {"restore acknowledged",
         "restore-ip",
         "127.0.5.23",
         {{Bytes{0x43, 0, 0, 6}, 0ms}},
         0,
         "还原IP地址成功\n",
         ""},
        {"empty address", "restore-ip", "", {}, 2, "", "IP is empty\n"},
        {"invalid address", "machine-code", "abc", {}, 2, "", "IP is invalid\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<ScriptedDevice> device;
        if (!c.script.empty()) {
            device.emplace(c.address, c.script);
        }
        const auto run = testing::RunCli({c.subcommand, "--ip", c.address});
        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

TEST(CliDeviceCommands, MachineCodeWithoutReplyTimesOut) {
    ScriptedDevice device("127.0.5.24", {{std::nullopt, 0ms}});
    const auto run = testing::RunCli({"machine-code", "--ip", "127.0.5.24"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "无响应，读取机器码失败，请检查网线！\n");
}

TEST(CliDeviceCommands, RestoreRefusedFails) {
    ScriptedDevice device("127.0.5.25", {{Bytes{0x43, 0, 0, 0x15}, 0ms}});
    const auto run = testing::RunCli({"restore-ip", "--ip", "127.0.5.25"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "还原IP地址失败\n");
}

TEST(CliDeviceCommands, HelpListsBothCommands) {
    const auto run = testing::RunCli({"--help"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_THAT(run.out, ::testing::HasSubstr("restore-ip"));
    EXPECT_THAT(run.out, ::testing::HasSubstr("machine-code"));
}

}  // namespace
}  // namespace korvane
