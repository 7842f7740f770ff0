#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "base/hex.hpp"
#include "base/utf8_path.hpp"
#include "cli/commands.hpp"
#include "cli/firmware_errors.hpp"
#include "download/packet_queue.hpp"
#include "frontend/file_md5.hpp"
#include "frontend/json_text.hpp"

namespace korvane::cli {
namespace {

struct InspectOptions {
    std::string file;
    bool json = false;
};

int RunInspect(const InspectOptions& options) {
    // The same loader and queue a download uses, so what is shown is what would go out.
    const FirmwareLoad load = LoadFirmware(Utf8Path(options.file));
    if (!load.queue) {
        std::cerr << PROGRAM << ": " << options.file << ": " << DescribeLoadFailure(load.status)
                  << '\n';
        return EXIT_BAD_INPUT;
    }
    const FirmwareImage& image = load.queue->Image();
    // The header carries the file's MD5, except for an empty file (all zeros).
    const std::string md5 = FileMd5Hex(image);
    const std::string header_digest = ToHex(image.Digest());
    const std::string header = ToHex((*load.queue)[0].Bytes());
    if (options.json) {
        std::printf(
            "{\"file\":%s,\"length\":%u,\"md5\":\"%s\",\"header_digest\":\"%s\","
            "\"datagrams\":%zu,\"header\":\"%s\"}\n",
            JsonString(options.file).c_str(), image.Length(), md5.c_str(), header_digest.c_str(),
            load.queue->size(), header.c_str());
        return EXIT_OK;
    }
    std::printf("file: %s\nlength: %u\nmd5: %s\nheader digest: %s\ndatagrams: %zu\nheader: %s\n",
                options.file.c_str(), image.Length(), md5.c_str(), header_digest.c_str(),
                load.queue->size(), header.c_str());
    return EXIT_OK;
}

}  // namespace

void AddInspectCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<InspectOptions>();
    CLI::App* command = app.add_subcommand(
        "inspect",
        "Dry run: load FILE as a download would and print its length, MD5, the header's "
        "digest, the datagram count and the header; nothing is sent");
    command->add_option("FILE", options->file, "Firmware file")->type_name("")->required();
    command->add_flag("--json", options->json, "Print one JSON object instead of the lines");
    command->footer(HelpFooter({
        "korvane-cli inspect firmware.zip",
        "korvane-cli inspect --json firmware.zip",
    }));
    command->callback([options, &exit_code] { exit_code = RunInspect(*options); });
}

}  // namespace korvane::cli
