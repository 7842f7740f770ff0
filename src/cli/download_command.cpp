#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "base/utf8_path.hpp"
#include "cli/commands.hpp"
#include "cli/firmware_errors.hpp"
#include "cli/interrupt_watcher.hpp"
#include "cli/progress_display.hpp"
#include "cli/route_options.hpp"
#include "cli/terminal.hpp"
#include "download/blocking_queue.hpp"
#include "download/download_inputs.hpp"
#include "download/download_worker.hpp"
#include "download/packet_queue.hpp"
#include "download/start_download.hpp"
#include "frontend/device_list.hpp"
#include "frontend/file_md5.hpp"
#include "frontend/json_text.hpp"
#include "frontend/progress_text.hpp"
#include "link/device_link.hpp"

namespace korvane::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct DownloadOptions {
    std::vector<std::string> addresses;
    std::string targets_file;
    std::string file;
    bool json = false;
    bool quiet = false;
    bool fast = false;  // DownloadPace::Fast
    unsigned retries = 0;
    double retry_delay_seconds = 1;
    RouteOptions route;
};

// A notification of one attempt at one device, or SIGINT/SIGTERM (device INTERRUPT).
struct DeviceEvent {
    std::size_t device = 0;
    unsigned attempt = 0;
    Notification notification;
};
constexpr std::size_t INTERRUPT = std::numeric_limits<std::size_t>::max();

// Each attempt's DeviceLink posts into the command's one event queue, tagged.
// Acknowledgements are not queued: the progress display reads each worker's
// count of released waits on its own pace, so the command's thread does not
// wake once per datagram.
class DeviceSink final : public NotificationSink {
public:
    DeviceSink(std::size_t device, unsigned attempt, BlockingQueue<DeviceEvent>& events)
        : device_(device), attempt_(attempt), events_(events) {}
    void Post(const Notification& notification) noexcept override {
        if (notification.code != UM_PACKET_ACKED) {
            events_.Push(
                DeviceEvent{.device = device_, .attempt = attempt_, .notification = notification});
        }
    }

private:
    std::size_t device_;
    unsigned attempt_;
    BlockingQueue<DeviceEvent>& events_;
};

// One device of the download. Each attempt gets a sink, link and worker of
// its own, so that it is a whole, fresh download. Members go in reverse
// order: the worker (which joins its thread) before the link it uses, the
// link before its sink.
struct DeviceRun {
    std::string text;
    in_addr address{};
    unsigned attempts = 0;  // started so far; the current one's number
    std::unique_ptr<DeviceSink> sink;
    std::unique_ptr<DeviceLink> link;
    std::unique_ptr<DownloadWorker> worker;
    std::optional<Clock::time_point> retry_at;  // set while waiting to try again
    bool done = false;
    DownloadOutcome outcome;  // the last attempt's
    std::string reason;       // empty on success
};

int Refuse(const DownloadRefusal& refusal, std::string_view detail = {}) {
    std::cerr << refusal.message;
    if (!detail.empty()) {
        std::cerr << ": " << detail;
    }
    std::cerr << '\n';
    if (refusal.beep && StderrIsTerminal()) {
        std::cerr << '\a';
    }
    std::cerr.flush();
    return EXIT_BAD_INPUT;
}

// Only the device's own verdict is worth another attempt; a cancelled job or
// an endpoint that cannot be opened would end the same way again.
bool WorthRetrying(DownloadResult result) {
    return result == DownloadResult::Refused || result == DownloadResult::TimedOut;
}

std::vector<DeviceProgress> Progress(const std::vector<DeviceRun>& runs,
                                     const PacketQueue& packets) {
    const std::uint64_t n = packets.size();
    const std::uint32_t length = packets.Image().Length();
    std::vector<DeviceProgress> devices;
    devices.reserve(runs.size());
    for (const DeviceRun& run : runs) {
        // Released waits, not notifications: 100% only once the end is acknowledged.
        const std::uint64_t acked = run.worker ? run.worker->Acknowledged() : std::uint64_t{0};
        DevicePhase phase = DevicePhase::Sending;
        if (run.done) {
            phase = run.outcome.Succeeded() ? DevicePhase::Succeeded : DevicePhase::Failed;
        } else if (run.retry_at) {
            phase = DevicePhase::WaitingToRetry;
        }
        devices.push_back({.address = run.text,
                           .progress = {.acknowledged = acked,
                                        .datagrams = n,
                                        .bytes_done = AcknowledgedBytes(acked, length),
                                        .bytes_total = length},
                           .phase = phase,
                           .attempt = std::max(run.attempts, 1u)});
    }
    return devices;
}

void PrintJson(const DownloadOptions& options, const PacketQueue& packets, const DeviceRun& run) {
    std::printf(
        "{\"address\":%s,\"file\":%s,\"length\":%u,\"md5\":\"%s\",\"datagrams\":%zu,"
        "\"acknowledged\":%zu,\"result\":\"%s\",\"reason\":%s,\"attempts\":%u,\"seconds\":%.3f,"
        "\"mode\":\"%s\"}\n",
        JsonString(run.text).c_str(), JsonString(options.file).c_str(), packets.Image().Length(),
        FileMd5Hex(packets.Image()).c_str(), packets.size(), run.outcome.acknowledged,
        run.outcome.Succeeded() ? "succeeded" : "failed",
        run.reason.empty() ? "null" : JsonString(run.reason).c_str(), run.attempts,
        run.outcome.seconds, options.fast ? "fast" : "described");
}

void PrintTable(const std::vector<DeviceRun>& runs, bool with_attempts) {
    std::size_t width = std::string_view("ADDRESS").size();
    for (const DeviceRun& run : runs) {
        width = std::max(width, run.text.size());
    }
    std::printf("%-*s  %-9s  %8s%s  %s\n", static_cast<int>(width), "ADDRESS", "RESULT", "SECONDS",
                with_attempts ? "  ATTEMPTS" : "", "REASON");
    for (const DeviceRun& run : runs) {
        std::printf("%-*s  %-9s  %8.2f", static_cast<int>(width), run.text.c_str(),
                    run.outcome.Succeeded() ? "succeeded" : "failed", run.outcome.seconds);
        if (with_attempts) {
            std::printf("  %8u", run.attempts);
        }
        std::printf("%s%s\n", run.reason.empty() ? "" : "  ", run.reason.c_str());
    }
}

// The last line of a fleet's result: "Succeed to download", or "Failed to
// download" followed by how many failed (named) and how many succeeded.
std::string FleetSummary(const std::vector<DeviceRun>& runs) {
    std::string failed;
    std::size_t failures = 0;
    for (const DeviceRun& run : runs) {
        if (!run.outcome.Succeeded()) {
            failed += (failures++ == 0 ? "" : ", ") + run.text;
        }
    }
    if (failures == 0) {
        return std::string(messages::DOWNLOAD_SUCCEEDED);
    }
    return std::string(messages::DOWNLOAD_FAILED) + ": " + std::to_string(failures) + " failed (" +
           failed + "), " + std::to_string(runs.size() - failures) + " succeeded";
}

// Everything one download of a fleet shares: its inputs, the event queue,
// the signal watch and the display.
class FleetDownload {
public:
    FleetDownload(const DownloadOptions& options, std::shared_ptr<const PacketQueue> packets,
                  std::vector<DeviceRun>& runs, BlockingQueue<DeviceEvent>& events,
                  const InterruptWatcher& interrupts, ProgressDisplay& progress, LinkRoute route)
        : options_(options),
          route_(std::move(route)),
          packets_(std::move(packets)),
          runs_(runs),
          events_(events),
          interrupts_(interrupts),
          progress_(progress) {}

    // Runs every device's attempts to their end.
    void Run() {
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            StartAttempt(i);
        }
        progress_.Show(Progress(runs_, *packets_), Clock::now());
        while (Unfinished()) {
            Clock::time_point until = Clock::now() + progress_.Interval();
            for (const DeviceRun& run : runs_) {
                if (!run.done && run.retry_at) {
                    until = std::min(until, *run.retry_at);
                }
            }
            if (const auto event = events_.PopUntil(until)) {
                Handle(*event);
            }
            for (std::size_t i = 0; i < runs_.size(); ++i) {
                if (!runs_[i].done && runs_[i].retry_at && *runs_[i].retry_at <= Clock::now()) {
                    StartAttempt(i);
                }
            }
            progress_.Show(Progress(runs_, *packets_), Clock::now());
        }
        progress_.Finish(Progress(runs_, *packets_), Clock::now());
        for (DeviceRun& run : runs_) {
            run.worker.reset();  // joins: endpoint, receive thread and socket are gone
        }
    }

private:
    [[nodiscard]] bool Unfinished() const {
        return std::ranges::any_of(runs_, [](const DeviceRun& run) { return !run.done; });
    }

    void StartAttempt(std::size_t index) {
        DeviceRun& run = runs_[index];
        run.retry_at.reset();
        run.worker.reset();
        run.link.reset();
        ++run.attempts;
        run.sink = std::make_unique<DeviceSink>(index, run.attempts, events_);
        run.link = std::make_unique<DeviceLink>(*run.sink);
        if (interrupts_.Signal() != 0) {
            // A signal during the start-up: the job fails before sending anything.
            run.link->Abort().store(true);
            run.link->Ack().Cancel();
        }
        run.worker = std::make_unique<DownloadWorker>(
            *run.link, run.address, packets_, std::chrono::milliseconds(ACK_WAIT_MS),
            options_.fast ? DownloadPace::Fast : DownloadPace::Described, route_);
        if (!run.worker->Start()) {
            run.done = true;
            run.outcome =
                DownloadOutcome{.result = DownloadResult::Aborted, .datagrams = packets_->size()};
            run.reason = "no thread could be started for the job";
        }
    }

    void Handle(const DeviceEvent& event) {
        if (event.device == INTERRUPT) {
            // Like the window's close box: stop every job and wake its sender at
            // once; each job then fails, and the results are shown as usual. A
            // device waiting to try again keeps its last attempt's result.
            for (DeviceRun& run : runs_) {
                run.link->Abort().store(true);
                run.link->Ack().Cancel();
                if (run.retry_at) {
                    run.retry_at.reset();
                    run.done = true;
                }
            }
            return;
        }
        DeviceRun& run = runs_[event.device];
        const unsigned code = event.notification.code;
        if (run.done || event.attempt != run.attempts ||
            (code != UM_DOWNLOAD_DONE && code != UM_UDP_INIT_FAILED)) {
            return;
        }
        run.outcome = run.worker->Outcome().value_or(DownloadOutcome{});
        run.reason = DescribeFailure(run.outcome);
        if (WorthRetrying(run.outcome.result) && run.attempts <= options_.retries &&
            interrupts_.Signal() == 0) {
            const auto delay = std::chrono::duration<double>(options_.retry_delay_seconds);
            run.retry_at = Clock::now() + std::chrono::duration_cast<Clock::duration>(delay);
            std::array<char, 96> note{};
            std::snprintf(note.data(), note.size(), "; trying again in %g s (attempt %u of %llu)",
                          options_.retry_delay_seconds, run.attempts + 1,
                          static_cast<unsigned long long>(options_.retries) + 1);
            progress_.Note("korvane-cli: " + run.text + ": " + run.reason + note.data());
            return;
        }
        run.done = true;
    }

    const DownloadOptions& options_;
    const LinkRoute route_;
    const std::shared_ptr<const PacketQueue> packets_;
    std::vector<DeviceRun>& runs_;
    BlockingQueue<DeviceEvent>& events_;
    const InterruptWatcher& interrupts_;
    ProgressDisplay& progress_;
};

int RunDownload(const DownloadOptions& options) {
    // The trace of every datagram takes the place of the progress line.
    const ProgressMode mode = ProgressDisplay::ModeFor(options.quiet || options.route.verbose);
    // First of all, before any other thread exists: resizes are held back
    // for the display, SIGINT and SIGTERM become an event.
    std::optional<ResizeWatch> resizes;
    if (mode == ProgressMode::Line) {
        resizes.emplace();
    }
    BlockingQueue<DeviceEvent> events;
    const InterruptWatcher interrupts([&events] { events.Push(DeviceEvent{.device = INTERRUPT}); });

    // Every check before anything is sent.
    StderrTrace trace;
    const std::optional<LinkRoute> route = MakeRoute(options.route, trace);
    if (!route) {
        return EXIT_BAD_INPUT;
    }
    std::vector<DeviceRun> runs;
    std::shared_ptr<const PacketQueue> packets;
    const bool started = StartDownload(
        options.file,
        {.check_devices =
             [&] {
                 const DeviceList devices = CollectDevices(options.addresses, options.targets_file);
                 if (devices.refusal) {
                     std::cerr << devices.refusal->Line("korvane-cli") << '\n';
                     return false;
                 }
                 runs.resize(devices.devices.size());
                 for (std::size_t i = 0; i < runs.size(); ++i) {
                     runs[i].text = devices.devices[i].text;
                     runs[i].address = devices.devices[i].address;
                 }
                 return true;
             },
         .refuse =
             [&](const DownloadRefusal& refusal, std::optional<LoadStatus> status) {
                 const std::string& file = options.file;
                 (void)Refuse(refusal,
                              refusal.beep ? std::string()
                              : status
                                  ? file + ": " + DescribeFirmwareProblem(Utf8Path(file), *status)
                                  : file + ": " + WhyNotReadable(Utf8Path(file)));
             },
         .prime =
             [&](const PacketQueue& queue) {
                 if (queue.Image().Length() == 0) {
                     std::cerr << "korvane-cli: warning: " << options.file
                               << " is empty; only the header and the end datagram go out\n";
                 }
             },
         .start =
             [&](std::shared_ptr<const PacketQueue> queue) {
                 packets = queue;
                 ProgressDisplay progress(mode, runs.size(), resizes ? &*resizes : nullptr);
                 FleetDownload(options, std::move(queue), runs, events, interrupts, progress,
                               *route)
                     .Run();
             }});
    if (!started) {
        return EXIT_BAD_INPUT;
    }

    const bool all_succeeded =
        std::ranges::all_of(runs, [](const DeviceRun& run) { return run.outcome.Succeeded(); });
    if (options.json) {
        for (const DeviceRun& run : runs) {
            PrintJson(options, *packets, run);
        }
    } else if (runs.size() > 1) {
        PrintTable(runs, options.retries > 0);
        std::printf("%s\n", FleetSummary(runs).c_str());
    } else {
        const DeviceRun& run = runs[0];
        if (!run.outcome.Succeeded()) {
            std::cerr << (run.outcome.result == DownloadResult::EndpointFailed
                              ? std::string()
                              : "korvane-cli: " + run.text + ": ")
                      << run.reason;
            if (run.attempts > 1) {
                std::cerr << " (after " << run.attempts << " attempts)";
            }
            std::cerr << '\n';
        }
        std::printf("%s\n", std::string(all_succeeded ? messages::DOWNLOAD_SUCCEEDED
                                                      : messages::DOWNLOAD_FAILED)
                                .c_str());
    }
    std::fflush(stdout);
    if (interrupts.Signal() != 0) {
        return ExitCodeAfterSignal(interrupts.Signal());
    }
    return all_succeeded ? EXIT_OK : EXIT_DEVICE_FAILED;
}

constexpr const char* FOOTER = R"(Examples:
  korvane-cli download --ip 192.168.1.88 fw.bin
  korvane-cli download --targets rack.txt --retries 2 fw.bin
  korvane-cli download --json --quiet --ip 192.168.1.88 --ip 192.168.1.89 fw.bin
  korvane-cli download --port 21900 --ip 127.0.0.1 -v fw.bin    (a simulator, traced)

Exit codes:
  0    every device acknowledged the whole file
  1    a device refused or did not answer (the table or JSON says which)
  2    bad input: nothing was sent
  130  cut short by SIGINT (Ctrl-C); 143 by SIGTERM)";

}  // namespace

void AddDownloadCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<DownloadOptions>();
    CLI::App* command = app.add_subcommand(
        "download",
        "Download FILE to the device at ADDR (port 21818), one datagram at a time; several "
        "devices (--ip repeated, --targets) are served in parallel");
    AddDeviceOptions(*command, options->addresses, options->targets_file, options->json);
    command->add_flag("--quiet,-q", options->quiet, "Show no progress on stderr");
    command->add_flag("--fast", options->fast,
                      "Handle each acknowledgement the moment it arrives instead of at the "
                      "described cadence (about 10 ms per datagram); same datagrams, waits and "
                      "verdicts");
    command
        ->add_option("--retries", options->retries,
                     "Download again, from the header, to a device that refused or did not "
                     "answer, up to N more times (default 0: never)")
        ->type_name("N");
    command
        ->add_option("--retry-delay", options->retry_delay_seconds,
                     "Seconds to wait before each new attempt (default 1)")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](const std::string& text) {
                const double seconds = std::strtod(text.c_str(), nullptr);
                return std::isfinite(seconds) && seconds >= 0 && seconds <= 3600
                           ? std::string()
                           : std::string("a number of seconds from 0 to 3600 is needed");
            },
            ""));
    AddRouteOptions(*command, options->route);
    command->add_option("FILE", options->file, "Firmware file")->type_name("")->required();
    command->footer(FOOTER);
    command->callback([options, &exit_code] { exit_code = RunDownload(*options); });
}

}  // namespace korvane::cli
