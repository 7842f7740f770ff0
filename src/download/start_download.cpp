#include "download/start_download.hpp"

#include <string>

#include "base/utf8_path.hpp"

namespace korvane {

bool StartDownload(std::string_view firmware_path, const DownloadSteps& steps) {
    if (steps.stop_previous) {
        steps.stop_previous();
    }
    const auto refuse = [&steps](const DownloadRefusal& refusal, std::optional<LoadStatus> status) {
        if (steps.refuse) {
            steps.refuse(refusal, status);
        }
        return false;
    };
    if (const auto refusal = CheckFirmwarePath(firmware_path)) {
        return refuse(*refusal, std::nullopt);
    }
    if (steps.check_devices && !steps.check_devices()) {
        return false;
    }
    if (steps.save) {
        steps.save();
    }
    const FirmwareLoad load = LoadFirmware(Utf8Path(firmware_path));
    if (load.refusal) {
        return refuse(*load.refusal, load.status);
    }
    if (steps.prime) {
        steps.prime(*load.queue);
    }
    if (steps.start) {
        steps.start(load.queue);
    }
    return true;
}

}  // namespace korvane
