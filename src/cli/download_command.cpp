#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/hex.hpp"
#include "base/messages.hpp"
#include "cli/commands.hpp"
#include "cli/interrupt_watcher.hpp"
#include "cli/progress_display.hpp"
#include "download/blocking_queue.hpp"
#include "download/download_inputs.hpp"
#include "download/download_worker.hpp"
#include "download/packet_queue.hpp"
#include "frontend/json_text.hpp"
#include "frontend/progress_text.hpp"
#include "frontend/target_list.hpp"
#include "link/device_link.hpp"

namespace korvane::cli {
namespace {

struct DownloadOptions {
    std::vector<std::string> addresses;
    std::string targets_file;
    std::string file;
    bool json = false;
    bool quiet = false;
    bool fast = false;  // DownloadPace::Fast
};

// A notification of one device's job, or SIGINT/SIGTERM (device INTERRUPT).
struct DeviceEvent {
    std::size_t device = 0;
    Notification notification;
};
constexpr std::size_t INTERRUPT = std::numeric_limits<std::size_t>::max();

// Each device's DeviceLink posts into the command's one event queue, tagged.
// Acknowledgements are not queued: the progress display reads each worker's
// count of released waits on its own pace, so the command's thread does not
// wake once per datagram.
class DeviceSink final : public NotificationSink {
public:
    DeviceSink(std::size_t device, BlockingQueue<DeviceEvent>& events)
        : device_(device), events_(events) {}
    void Post(const Notification& notification) noexcept override {
        if (notification.code != UM_PACKET_ACKED) {
            events_.Push(DeviceEvent{.device = device_, .notification = notification});
        }
    }

private:
    std::size_t device_;
    BlockingQueue<DeviceEvent>& events_;
};

// One device of the download. Members go in reverse order: the worker (which
// joins its thread) before the link it uses, the link before its sink.
struct DeviceRun {
    std::string text;
    in_addr address{};
    std::unique_ptr<DeviceSink> sink;
    std::unique_ptr<DeviceLink> link;
    std::unique_ptr<DownloadWorker> worker;
    bool done = false;
    DownloadOutcome outcome;
    std::string reason;  // empty on success
};

int Refuse(const DownloadRefusal& refusal, std::string_view detail = {}) {
    std::cerr << refusal.message;
    if (!detail.empty()) {
        std::cerr << ": " << detail;
    }
    std::cerr << '\n';
    if (refusal.beep && ::isatty(STDERR_FILENO) == 1) {
        std::cerr << '\a';
    }
    std::cerr.flush();
    return EXIT_BAD_INPUT;
}

// The addresses from --ip and --targets, in that order; false (told on
// stderr) when the targets file is refused.
bool CollectAddresses(const DownloadOptions& options, std::vector<std::string>& texts) {
    texts = options.addresses;
    if (options.targets_file.empty()) {
        return true;
    }
    TargetsFile targets = ReadTargetsFile(options.targets_file);
    if (targets.status != TargetsFileStatus::Read) {
        std::cerr << "korvane-cli: targets file " << options.targets_file << ": "
                  << DescribeTargetsFileStatus(targets.status) << '\n';
        return false;
    }
    for (std::string& target : targets.targets) {
        texts.push_back(std::move(target));
    }
    return true;
}

std::string AddressText(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

ProgressSnapshot Snapshot(const std::vector<DeviceRun>& runs, const PacketQueue& packets,
                          std::chrono::steady_clock::time_point start) {
    ProgressSnapshot progress;
    const std::uint64_t n = packets.size();
    const std::uint32_t length = packets.Image().Length();
    for (const DeviceRun& run : runs) {
        // Released waits, not notifications: 100% only once the end is acknowledged.
        const std::uint64_t acked = run.worker ? run.worker->Acknowledged() : std::uint64_t{0};
        progress.acknowledged += acked;
        progress.datagrams += n;
        progress.bytes_done += AcknowledgedBytes(acked, length);
        progress.bytes_total += length;
    }
    progress.elapsed_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return progress;
}

void PrintJson(const DownloadOptions& options, const PacketQueue& packets, const DeviceRun& run) {
    std::printf(
        "{\"address\":%s,\"file\":%s,\"length\":%u,\"md5\":\"%s\",\"datagrams\":%zu,"
        "\"acknowledged\":%zu,\"result\":\"%s\",\"reason\":%s,\"seconds\":%.3f,\"mode\":\"%s\"}\n",
        JsonString(run.text).c_str(), JsonString(options.file).c_str(), packets.Image().Length(),
        ToHex(packets.Image().Digest()).c_str(), packets.size(), run.outcome.acknowledged,
        run.outcome.Succeeded() ? "succeeded" : "failed",
        run.reason.empty() ? "null" : JsonString(run.reason).c_str(), run.outcome.seconds,
        options.fast ? "fast" : "described");
}

void PrintTable(const std::vector<DeviceRun>& runs) {
    std::size_t width = std::string_view("ADDRESS").size();
    for (const DeviceRun& run : runs) {
        width = std::max(width, run.text.size());
    }
    std::printf("%-*s  %-9s  %8s  %s\n", static_cast<int>(width), "ADDRESS", "RESULT", "SECONDS",
                "REASON");
    for (const DeviceRun& run : runs) {
        std::printf("%-*s  %-9s  %8.2f%s%s\n", static_cast<int>(width), run.text.c_str(),
                    run.outcome.Succeeded() ? "succeeded" : "failed", run.outcome.seconds,
                    run.reason.empty() ? "" : "  ", run.reason.c_str());
    }
}

int RunDownload(const DownloadOptions& options) {
    BlockingQueue<DeviceEvent> events;
    // First, before any other thread exists: SIGINT and SIGTERM become an event.
    const InterruptWatcher interrupts([&events] { events.Push(DeviceEvent{.device = INTERRUPT}); });

    // Every check before anything is sent.
    if (const auto refusal = CheckFirmwarePath(options.file)) {
        return Refuse(*refusal);
    }
    std::vector<std::string> texts;
    if (!CollectAddresses(options, texts)) {
        return EXIT_BAD_INPUT;
    }
    if (texts.empty()) {
        return Refuse(DownloadRefusal{.message = messages::IP_EMPTY});
    }
    std::vector<DeviceRun> runs(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const AddressCheck check = CheckDeviceAddress(texts[i]);
        if (check.refusal) {
            return Refuse(*check.refusal, texts[i]);
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (runs[j].address.s_addr == check.address.s_addr) {
                std::cerr << "korvane-cli: " << texts[i] << " and " << texts[j]
                          << " are the same device (" << AddressText(check.address) << ")\n";
                return EXIT_BAD_INPUT;
            }
        }
        runs[i].text = texts[i];
        runs[i].address = check.address;
    }
    const FirmwareLoad load = LoadFirmware(options.file);
    if (load.refusal) {
        return Refuse(*load.refusal);
    }
    const PacketQueue& packets = *load.queue;

    const auto start = std::chrono::steady_clock::now();
    std::size_t running = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        DeviceRun& run = runs[i];
        run.sink = std::make_unique<DeviceSink>(i, events);
        run.link = std::make_unique<DeviceLink>(*run.sink);
        if (interrupts.Signal() != 0) {
            // A signal during the start-up: the job fails before sending anything.
            run.link->Abort().store(true);
            run.link->Ack().Cancel();
        }
        run.worker = std::make_unique<DownloadWorker>(
            *run.link, run.address, load.queue, std::chrono::milliseconds(ACK_WAIT_MS),
            options.fast ? DownloadPace::Fast : DownloadPace::Described);
        if (run.worker->Start()) {
            ++running;
        } else {
            run.done = true;
            run.outcome =
                DownloadOutcome{.result = DownloadResult::Aborted, .datagrams = packets.size()};
            run.reason = "no thread could be started for the job";
        }
    }

    ProgressDisplay progress(ProgressDisplay::ModeFor(options.quiet),
                             runs.size() > 1 ? std::to_string(runs.size()) + " devices " : "");
    progress.Show(Snapshot(runs, packets, start), std::chrono::steady_clock::now());
    while (running > 0) {
        const auto event = events.PopUntil(std::chrono::steady_clock::now() + progress.Interval());
        if (event && event->device == INTERRUPT) {
            // Like the window's close box: stop every job and wake its sender at
            // once; each job then fails, and the results are shown as usual.
            for (DeviceRun& run : runs) {
                run.link->Abort().store(true);
                run.link->Ack().Cancel();
            }
        } else if (event) {
            DeviceRun& run = runs[event->device];
            const unsigned code = event->notification.code;
            if ((code == UM_DOWNLOAD_DONE || code == UM_UDP_INIT_FAILED) && !run.done) {
                run.done = true;
                --running;
                run.outcome = run.worker->Outcome().value_or(DownloadOutcome{});
                run.reason = DescribeFailure(run.outcome);
            }
        }
        progress.Show(Snapshot(runs, packets, start), std::chrono::steady_clock::now());
    }
    progress.Finish(Snapshot(runs, packets, start));
    for (DeviceRun& run : runs) {
        run.worker.reset();  // joins: endpoint, receive thread and socket are gone
    }

    bool all_succeeded = true;
    for (const DeviceRun& run : runs) {
        all_succeeded = all_succeeded && run.outcome.Succeeded();
    }
    if (options.json) {
        for (const DeviceRun& run : runs) {
            PrintJson(options, packets, run);
        }
    } else {
        if (runs.size() > 1) {
            PrintTable(runs);
        } else if (!runs[0].outcome.Succeeded()) {
            std::cerr << (runs[0].outcome.result == DownloadResult::EndpointFailed
                              ? std::string()
                              : "korvane-cli: " + runs[0].text + ": ")
                      << runs[0].reason << '\n';
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

}  // namespace

void AddDownloadCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<DownloadOptions>();
    CLI::App* command = app.add_subcommand(
        "download",
        "Download FILE to the device at ADDR (port 21818), one datagram at a time; several "
        "devices (--ip repeated, --targets) are served in parallel");
    command
        ->add_option("--ip", options->addresses, "Device IPv4 address; repeat for several devices")
        ->type_name("ADDR")
        // One address per --ip, so that FILE after it is not taken for another.
        ->allow_extra_args(false)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command
        ->add_option("--targets", options->targets_file,
                     "File of device addresses, one a line ('#' comments, blank lines ignored; "
                     "a regular file of at most 1 MiB)")
        ->type_name("FILE");
    command->add_flag("--json", options->json,
                      "Print one JSON object per device on stdout instead of the result text");
    command->add_flag("--quiet,-q", options->quiet, "Show no progress on stderr");
    command->add_flag("--fast", options->fast,
                      "Handle each acknowledgement the moment it arrives instead of at the "
                      "described cadence (about 10 ms per datagram); same datagrams, waits and "
                      "verdicts");
    command->add_option("FILE", options->file, "Firmware file");
    command->callback([options, &exit_code] { exit_code = RunDownload(*options); });
}

}  // namespace korvane::cli
