#include <iostream>
#include <memory>
#include <string>

#include "base/hex.hpp"
#include "cli/commands.hpp"
#include "cli/firmware_errors.hpp"
#include "download/firmware_image.hpp"
#include "download/packet_queue.hpp"
#include "link/packet_builders.hpp"

namespace korvane::cli {
namespace {

struct InspectOptions {
    std::string file;
};

int RunInspect(const InspectOptions& options) {
    FirmwareImage image;
    const LoadStatus status = image.Load(options.file);
    if (status != LoadStatus::Loaded) {
        std::cerr << "korvane-cli: " << options.file << ": " << DescribeLoadFailure(status) << '\n';
        return EXIT_BAD_INPUT;
    }
    const auto header = BuildHeaderPacket(0, image.Length(), image.Digest());
    std::cout << "file: " << options.file << '\n'
              << "length: " << image.Length() << '\n'
              << "md5: " << ToHex(image.Digest()) << '\n'
              << "datagrams: " << DatagramCount(image.Length()) << '\n'
              << "header: " << ToHex(header->Datagram()) << '\n';
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
