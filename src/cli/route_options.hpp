#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/link_route.hpp"

namespace korvane::cli {

// The options every subcommand that sends to a device shares: which devices,
// the device's port, where to send from, and a trace of every datagram.
struct RouteOptions {
    std::uint16_t port = DEVICE_PORT;
    std::string source;
    std::string interface;
    bool verbose = false;
};

void AddRouteOptions(CLI::App& command, RouteOptions& options);

// The devices to reach and the form of the result, as every subcommand that
// sends to devices takes them: --ip ADDR (repeated), --targets FILE, --json.
void AddDeviceOptions(CLI::App& command, std::vector<std::string>& addresses,
                      std::string& targets_file, bool& json);

// Writes one line per datagram sent and received on stderr, with the time
// since it was made. Lives for one subcommand; safe from every thread.
class StderrTrace final : public LinkTrace {
public:
    void Sent(in_addr to, std::span<const std::uint8_t> head,
              std::span<const std::uint8_t> tail) noexcept override;
    void Received(in_addr device, std::span<const std::uint8_t> datagram,
                  bool dropped) noexcept override;

private:
    [[nodiscard]] double Seconds() const;
    void Write(const std::string& line) noexcept;

    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
};

// The route the options ask for, its trace going to `trace` when verbose;
// nullopt after telling on stderr why not (a --source that is no address).
[[nodiscard]] std::optional<LinkRoute> MakeRoute(const RouteOptions& options, StderrTrace& trace);

}  // namespace korvane::cli
