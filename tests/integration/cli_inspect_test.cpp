#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/hex.hpp"
#include "download/md5_context.hpp"
#include "support/run_process.hpp"
#include "support/temp_dir.hpp"

// `korvane-cli inspect` as the operator runs it: a real process, its exit
// code and exactly what it prints.
namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ProcessResult;
using testing::RunCli;
using testing::SplitLines;

const std::string MODULE_HEX = "4472697665724d616e61676572";  // "DriverManager"

struct InspectCase {
    std::string name;
    Bytes content;
    std::string length;
    std::string md5;
    std::string datagrams;
    std::string length_hex;
};

TEST(CliInspect, PrintsLengthDigestDatagramCountAndHeader) {
    Bytes big(8001);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    const std::vector<InspectCase> cases = {
        // An empty file is sent with an all-zero digest, not the MD5 of nothing.
        {"empty.zip", {}, "0", std::string(32, '0'), "2", "00000000"},
        {"abc.zip", {'a', 'b', 'c'}, "3", "900150983cd24fb0d6963f7d28e17f72", "3", "00000003"},
        {"big.zip", big, "8001", ToHex(Md5Context::Of(big)), "4", "00001f41"},
    };
    testing::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.WriteFile(c.name, c.content).string();
        const ProcessResult result = RunCli({"inspect", file});
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_THAT(SplitLines(result.out),
                    ElementsAre("file: " + file, "length: " + c.length, "md5: " + c.md5,
                                "datagrams: " + c.datagrams,
                                "header: 110000" + c.length_hex + c.md5 + MODULE_HEX));
        EXPECT_TRUE(result.out.ends_with('\n'));
    }
}

TEST(CliInspect, MissingFileIsBadInputWithOneLineOnStderr) {
    testing::TempDir dir;
    const std::string file = (dir.Path() / "missing.zip").string();
    const ProcessResult result = RunCli({"inspect", file});
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    const auto lines = SplitLines(result.err);
    ASSERT_EQ(lines.size(), 1u) << result.err;
    EXPECT_THAT(lines[0], HasSubstr(file));
    EXPECT_THAT(lines[0], HasSubstr("no such file"));
}

TEST(CliInspect, FolderAndFifoAreBadInput) {
    testing::TempDir dir;
    const auto fifo = dir.Path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& path : {dir.Path().string(), fifo.string()}) {
        SCOPED_TRACE(path);
        const ProcessResult result = RunCli({"inspect", path});
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_EQ(result.out, "");
        ASSERT_EQ(SplitLines(result.err).size(), 1u) << result.err;
        EXPECT_THAT(result.err, HasSubstr("cannot be read"));
    }
}

TEST(CliInspect, HelpListsInspect) {
    const ProcessResult result = RunCli({"--help"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_THAT(result.out, HasSubstr("inspect"));
}

TEST(CliInspect, MissingSubcommandOrFileIsBadInput) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"inspect"}, {"frobnicate"}}) {
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        const ProcessResult result = RunCli(args);
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err, "");
    }
}

}  // namespace
}  // namespace korvane
