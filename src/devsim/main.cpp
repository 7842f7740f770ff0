// korvane-devsim: a stand-in for the network device, for tests, demos and
// trying the tools out without hardware. See --help.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/hex.hpp"
#include "base/utf8_path.hpp"
#include "base/version.hpp"
#include "devsim/device_simulator.hpp"
#include "devsim/stop_request.hpp"
#include "devsim/transfer_json.hpp"
#include "frontend/parse_error_text.hpp"
#include "frontend/program_arguments.hpp"
#include "link/device_address.hpp"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_CANNOT_START = 1;
constexpr int EXIT_BAD_USAGE = 2;

constexpr const char* FOOTER = R"(
Replies: header, data and end datagrams are acknowledged with `code seq-hi seq-lo 06`
and refused with status 15 (hex). A header with sequence k starts a new transfer
(an unfinished one is dropped); its data must come as k+1, k+2 ... (mod 65536) and
must not go past the header's length: a chunk out of sequence or too long is
refused and ends the transfer as a mismatch. The end datagram is refused when the
length or MD5 of what arrived differs from the header; a good image is written to
DIR/<md5>.bin. Data or end with no transfer in progress is refused. The restore
request gets 43 00 00 06, the machine-code request 81 00 00 06 00 0E and the 8
machine-code bytes. Other datagrams get no reply. A datagram refused by --refuse
or --refuse-end changes nothing: a refused end leaves its transfer open and
unreported until the next header.

Output: one JSON line on stdout per finished transfer, describing what arrived:
  {"length":N,"md5":"<hex>","verdict":"ok"|"mismatch"|"write-failed","path":"...","overtaken":N}
path is "" unless the image was written; overtaken counts the data and end
datagrams that came while the one before them was left unanswered (a sender
that did not wait for the device). Once its line is printed a transfer is
forgotten. "listening on ADDR:PORT" goes to stderr once the device is ready.
SIGINT or SIGTERM stops it (exit 0); exit 1 when it cannot start (address not
local or in use, output folder unusable), 2 on a bad command line (nothing is
started).)";

struct CommandLine {
    korvane::devsim::SimulatorOptions options;
    std::string out_dir;  // UTF-8, as the command line gave it
    std::string machine_code_hex;
    std::uint32_t refuse = 0;
    std::uint32_t drop_reply = 0;
    unsigned delay_ms = 0;
    unsigned late_duplicate_ms = 0;
};

// Datagrams are counted from 1: a count of 0 names none.
std::string CheckFromOne(const std::string& text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size() && value == 0) {
        return "datagrams are counted from 1, not 0";
    }
    return {};  // anything else that is not a count, the conversion refuses
}

void AddOptions(CLI::App& app, CommandLine& line) {
    // No description: the help shows the plain type name, not the check.
    const CLI::Validator FROM_ONE(CheckFromOne, "");
    auto& o = line.options;
    app.add_option("--bind", o.bind_address, "Address to answer on")
        ->type_name("ADDR")
        ->default_str("127.0.0.1");
    app.add_option("--port", o.port, "UDP port to answer on")
        ->type_name("PORT")
        ->default_str("21818");
    app.add_option("--out", line.out_dir, "Folder for received images (made if missing)")
        ->type_name("DIR");
    app.add_option("--machine-code", line.machine_code_hex,
                   "The 8 machine-code bytes as 16 hex digits")
        ->type_name("HEX16")
        ->default_str("1122334455667788");
    app.add_option("--refuse", line.refuse,
                   "Refuse the Nth datagram received (from 1, counting every datagram since "
                   "start); a refused datagram changes nothing")
        ->type_name("N")
        ->check(FROM_ONE);
    app.add_flag("--refuse-end", o.faults.refuse_end,
                 "Refuse every end datagram (the transfer stays open and is not reported)");
    app.add_option("--drop-reply", line.drop_reply,
                   "Send no reply to the Nth datagram received (it is still acted on)")
        ->type_name("N")
        ->check(FROM_ONE);
    app.add_option("--delay", line.delay_ms, "Wait MS milliseconds before every reply")
        ->type_name("MS");
    app.add_flag("--duplicate-acks", o.faults.duplicate_acks, "Send every acknowledgement twice");
    app.add_option("--late-duplicate", line.late_duplicate_ms,
                   "Send every acknowledgement again MS milliseconds after the first copy, "
                   "while serving on")
        ->type_name("MS");
    app.add_flag("--zero-sequence", o.faults.zero_sequence,
                 "Put 00 00 in reply bytes 1-2 instead of the request's sequence");
    app.add_flag("--garbage", o.faults.garbage_before_reply,
                 "Before every reply send a 3-byte datagram, one with an unknown code (10) and "
                 "an oversized one (6000 bytes)");
}

// The simulator's options from what the flags gave; nothing after telling why not.
std::optional<korvane::devsim::SimulatorOptions> OptionsOf(const CommandLine& line) {
    korvane::devsim::SimulatorOptions o = line.options;
    o.out_dir = korvane::Utf8Path(line.out_dir);
    if (!korvane::ParseDeviceAddress(o.bind_address)) {
        std::cerr << "korvane-devsim: --bind wants an IPv4 address, four numbers 0-255 such as "
                     "127.0.0.2, not '"
                  << o.bind_address << "'\n";
        return std::nullopt;
    }
    if (!line.machine_code_hex.empty()) {
        const auto bytes = korvane::FromHex(line.machine_code_hex);
        if (!bytes || bytes->size() != o.machine_code.size()) {
            std::cerr << "korvane-devsim: --machine-code wants 16 hex digits, not '"
                      << line.machine_code_hex << "'\n";
            return std::nullopt;
        }
        std::ranges::copy(*bytes, o.machine_code.begin());
    }
    if (line.refuse > 0) {
        o.faults.refuse_nth = line.refuse;
    }
    if (line.drop_reply > 0) {
        o.faults.drop_reply_nth = line.drop_reply;
    }
    o.faults.reply_delay = std::chrono::milliseconds(line.delay_ms);
    o.faults.late_duplicate = std::chrono::milliseconds(line.late_duplicate_ms);
    o.keep_history = false;  // a long-running device forgets each transfer once reported
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "korvane-devsim: a simulated device that answers the firmware download "
        "protocol on UDP (default 127.0.0.1:21818)",
        "korvane-devsim"};
    app.footer(FOOTER);
    app.allow_windows_style_options(false);  // "/name" is a path on Windows too
    app.set_version_flag("--version", std::string("korvane-devsim ") + korvane::VERSION);
    CommandLine line;
    AddOptions(app, line);
    const korvane::Utf8Arguments arguments(argc, argv);
    korvane::ShowUtf8OnConsole();
    try {
        app.parse(arguments.Count(), arguments.Values());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        const korvane::ParseFailure failure{
            .kind = e.get_name(), .message = e.what(), .leftovers = app.remaining(false)};
        std::cerr << "korvane-devsim: " << korvane::DescribeParseFailure(failure)
                  << "\nSee 'korvane-devsim --help'.\n";
        return EXIT_BAD_USAGE;
    }
    const auto options = OptionsOf(line);
    if (!options) {
        return EXIT_BAD_USAGE;
    }

    // Before the simulator's threads, which must not be the ones it reaches.
    korvane::devsim::StopRequest stop;
    korvane::devsim::DeviceSimulator simulator(*options);
    simulator.OnTransfer([](const korvane::devsim::TransferRecord& record) {
        std::cout << korvane::devsim::TransferJsonLine(record) << std::endl;
        if (!record.write_error.empty()) {
            std::cerr << "korvane-devsim: " << record.write_error << std::endl;
        }
    });
    if (const auto error = simulator.Start()) {
        std::cerr << "korvane-devsim: " << *error << std::endl;
        return EXIT_CANNOT_START;
    }
    std::cerr << "listening on " << simulator.ListeningOn() << std::endl;

    stop.Wait();
    simulator.Stop();
    return EXIT_OK;
}
