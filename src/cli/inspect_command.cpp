#include <iostream>
#include <memory>
#include <string>

#include "base/hex.hpp"
#include "cli/commands.hpp"
#include "cli/firmware_errors.hpp"
#include "download/packet_queue.hpp"

namespace korvane::cli {
namespace {

struct InspectOptions {
    std::string file;
};

int RunInspect(const InspectOptions& options) {
    // The same loader and queue a download uses, so what is shown is what would go out.
    const FirmwareLoad load = LoadFirmware(options.file);
    if (!load.queue) {
        std::cerr << "korvane-cli: " << options.file << ": " << DescribeLoadFailure(load.status)
                  << '\n';
        return EXIT_BAD_INPUT;
    }
    const FirmwareImage& image = load.queue->Image();
    std::cout << "file: " << options.file << '\n'
              << "length: " << image.Length() << '\n'
              << "md5: " << ToHex(image.Digest()) << '\n'
              << "datagrams: " << load.queue->size() << '\n'
              << "header: " << ToHex((*load.queue)[0].Bytes()) << '\n';
    return EXIT_OK;
}

}  // namespace

void AddInspectCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<InspectOptions>();
    CLI::App* command = app.add_subcommand(
        "inspect", "Dry run: load FILE and print its length, MD5, datagram count and header");
    command->add_option("FILE", options->file, "Firmware file")->required();
    command->callback([options, &exit_code] { exit_code = RunInspect(*options); });
}

}  // namespace korvane::cli
