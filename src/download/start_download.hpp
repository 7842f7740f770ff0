#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "download/download_inputs.hpp"
#include "download/firmware_file.hpp"
#include "download/packet_queue.hpp"

namespace korvane {

// The parts of "DownLoad" that are each front end's own. StartDownload calls
// them on its own (the calling) thread, in this order, each at most once; an
// empty one is skipped.
struct DownloadSteps {
    // Let a running job go and clear the AbortFlag.
    std::function<void()> stop_previous;
    // Check the devices the operator gave; false once the operator has been told why not.
    std::function<bool()> check_devices;
    // The inputs passed: remember them.
    std::function<void()> save;
    // Tell the operator why the firmware is refused: at its path (no status)
    // or when it was loaded (the load's status).
    std::function<void(const DownloadRefusal&, std::optional<LoadStatus>)> refuse;
    // The file is loaded: show a download of queue.size() datagrams.
    std::function<void(const PacketQueue& queue)> prime;
    // Start the job or jobs that send `queue`.
    std::function<void(std::shared_ptr<const PacketQueue> queue)> start;
};

// "DownLoad" in the order the operator meets it: the previous job stops, the
// firmware path is checked, then the devices; the inputs are saved, the file
// loaded, the progress primed and the jobs started. False when a check or the
// load refused it (after `refuse` or `check_devices` told the operator).
bool StartDownload(std::string_view firmware_path, const DownloadSteps& steps);

}  // namespace korvane
