#include "cli/route_options.hpp"

#include <cstdio>
#include <iostream>

#include "frontend/trace_text.hpp"
#include "link/device_address.hpp"

namespace korvane::cli {
void AddRouteOptions(CLI::App& command, RouteOptions& options) {
    command
        .add_option("--port", options.port, "The device's UDP port (simulators, port forwarding)")
        ->type_name("N")
        ->default_str("21818")
        ->check(CLI::Range(1, 65535));
    command
        .add_option("--source", options.source,
                    "Send from this local IPv4 address (a machine on several networks)")
        ->type_name("ADDRESS");
    command
        .add_option("--interface", options.interface,
                    "Send through this network interface only (e.g. eth1; broadcasts)")
        ->type_name("NAME");
    command.add_flag("-v,--verbose", options.verbose,
                     "Trace every datagram sent and every reply on stderr");
}

void AddDeviceOptions(CLI::App& command, std::vector<std::string>& addresses,
                      std::string& targets_file, bool& json) {
    command.add_option("--ip", addresses, "Device IPv4 address; repeat for several devices")
        ->type_name("ADDR")
        // One address per --ip, so that FILE after it is not taken for another.
        ->allow_extra_args(false)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command
        .add_option("--targets", targets_file,
                    "File of device addresses, one a line ('#' comments, blank lines ignored; "
                    "a regular file of at most 1 MiB); - reads them from standard input")
        ->type_name("FILE");
    command.add_flag("--json", json,
                     "Print one JSON object per device on stdout instead of the result text");
}

void StderrTrace::Sent(in_addr to, std::span<const std::uint8_t> head,
                       std::span<const std::uint8_t> tail) noexcept {
    Write(TraceSentLine(Seconds(), DeviceAddressText(to), head, head.size() + tail.size()));
}

void StderrTrace::Received(in_addr device, std::span<const std::uint8_t> datagram,
                           bool dropped) noexcept {
    Write(TraceReceivedLine(Seconds(), DeviceAddressText(device), datagram, dropped));
}

double StderrTrace::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void StderrTrace::Write(const std::string& line) noexcept {
    const std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::optional<LinkRoute> MakeRoute(const RouteOptions& options, StderrTrace& trace) {
    LinkRoute route{.port = options.port,
                    .interface = options.interface,
                    .trace = options.verbose ? &trace : nullptr};
    if (!options.source.empty()) {
        route.source = ParseDeviceAddress(options.source);
        if (!route.source) {
            std::cerr << "korvane-cli: --source " << options.source
                      << ": not a local IPv4 address (four numbers 0-255)\n";
            return std::nullopt;
        }
    }
    return route;
}

}  // namespace korvane::cli
