// What the simulated device answers, byte by byte, and what it keeps.
#include "devsim/device_responder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "devsim/transfer_json.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

namespace korvane::devsim {
namespace {

using namespace korvane::testing;  // Hex, ABC_HEADER, ABC_DATA, ABC_END, ABC_MD5

constexpr MachineCode CODE{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const std::string H = std::string(ABC_HEADER);  // declares 3 bytes "abc", sequence 0
const std::string D = std::string(ABC_DATA);    // "abc", sequence 1
const std::string E = std::string(ABC_END);     // sequence 2

// Request, refused by the fault plan?, reply (nullptr: none), "verdict:bytes" of an ended transfer.
using Step = std::tuple<std::string, bool, const char*, const char*>;

TEST(DeviceResponder, AnswersEachRequestAndJudgesEachTransfer) {
    const std::vector<Step> script = {
        {"", false, nullptr, nullptr},
        {"43 00 00 00 00", false, "43 00 00 06", nullptr},
        {"43 00 00 00 00", true, "43 00 00 15", nullptr},
        {"81 00 00 00 00", false, "81 00 00 06 00 0E 11 22 33 44 55 66 77 88", nullptr},
        // A short or refused header starts nothing: nowhere to put data.
        {"11 00 00 00 00 00 03", false, "11 00 00 15", nullptr},
        {H, true, "11 00 00 15", nullptr},
        {D, false, "12 00 01 15", nullptr},
        // A good transfer in two chunks, past malformed and refused datagrams.
        {H, false, "11 00 00 06", nullptr},
        {"12 00 01 00 02 61", false, "12 00 01 15", nullptr},
        {"12 00 01", false, "12 00 01 15", nullptr},
        {D, true, "12 00 01 15", nullptr},
        {"12 00 01 00 02 61 62", false, "12 00 01 06", nullptr},
        {"13 00 02 00 00", true, "13 00 02 15", nullptr},
        {"12 00 02 00 01 63", false, "12 00 02 06", nullptr},
        {"13 00 03 00 00", false, "13 00 03 06", "ok:3"},
        {H, false, "11 00 00 06", nullptr},
        {"12 00 01 00 01 7A", false, "12 00 01 06", nullptr},
        {H, false, "11 00 00 06", nullptr},  // drops the unfinished transfer
        {D, false, "12 00 01 06", nullptr},
        {E, false, "13 00 02 06", "ok:3"},
        // Out of sequence or past the declared length: refused, the transfer ends.
        {H, false, "11 00 00 06", nullptr},
        {"12 00 02 00 03 61 62 63", false, "12 00 02 15", "mismatch:0"},
        {E, false, "13 00 02 15", nullptr},
        {H, false, "11 00 00 06", nullptr},
        {D, false, "12 00 01 06", nullptr},
        {"12 00 02 00 01 64", false, "12 00 02 15", "mismatch:3"},
        // Judged at the end: too short (with the digest of "ab"), wrong digest ("abd").
        {"11 0000 00000003 187ef4436122d1cc2f40dc2b92f0eba0", false, "11 00 00 06", nullptr},
        {"12 00 01 00 02 61 62", false, "12 00 01 06", nullptr},
        {E, false, "13 00 02 15", "mismatch:2"},
        {H, false, "11 00 00 06", nullptr},
        {"12 00 01 00 03 61 62 64", false, "12 00 01 06", nullptr},
        {E, false, "13 00 02 15", "mismatch:3"},
        // Sequences wrap at 2^16; an empty file carries an all-zero digest.
        {"11 FFFF" + H.substr(7), false, "11 FF FF 06", nullptr},
        {"12 0000 0003 616263", false, "12 00 00 06", nullptr},
        {"13 0001 0000", false, "13 00 01 06", "ok:3"},
        {"11 0000 00000000" + std::string(32, '0'), false, "11 00 00 06", nullptr},
        {"13 0001 0000", false, "13 00 01 06", "ok:0"},
    };
    // A folder named outside every ANSI code page: on Windows the images must
    // go in by their UTF-16 names.
    const korvane::testing::TempDir temp;
    const std::filesystem::path dir = temp.Path() / std::filesystem::path(u8"固件");
    std::filesystem::create_directory(dir);
    DeviceResponder device(CODE, dir);
    std::size_t step = 0;
    for (const auto& [request, refuse, reply, ended] : script) {
        SCOPED_TRACE("step " + std::to_string(step++) + ": " + request);
        const Response response = device.Respond(Hex(request), refuse);
        EXPECT_EQ(response.reply ? ToHex(response.reply->Bytes()) : "-",
                  reply ? ToHex(Hex(reply)) : "-");
        const auto& r = response.finished;
        const std::string verdict = r ? std::string(VerdictText(r->verdict)) + ":" : "";
        EXPECT_EQ(r ? verdict + std::to_string(r->received_length) : "", ended ? ended : "");
    }
    // Good images only ("abc" and the empty one), and no temporary file left.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
    std::ifstream in(dir / (std::string(ABC_MD5) + ".bin"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "abc");

    DeviceResponder unwritable(CODE, dir / "missing");
    (void)unwritable.Respond(Hex("11 0000 00000000" + std::string(32, '0')), false);
    const Response end = unwritable.Respond(Hex("13 0001 0000"), false);
    EXPECT_EQ(ToHex(end.reply.value().Bytes()), "13000115");
    EXPECT_EQ(
        TransferJsonLine(end.finished.value()),
        R"({"length":0,"md5":"d41d8cd98f00b204e9800998ecf8427e","verdict":"write-failed","path":"","overtaken":0})");
}

}  // namespace
}  // namespace korvane::devsim
