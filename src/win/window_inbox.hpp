#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "link/notifications.hpp"

namespace korvane {

// Where the core's threads post to the dialog: each notification becomes a
// posted window message with its own code (UM_PACKET_ACKED, UM_DOWNLOAD_DONE,
// UM_MACHINE_CODE ...), so the UI thread handles them in posting order and no
// poster ever waits. WPARAM carries the first value; LPARAM the second for
// UM_MACHINE_CODE, and for the download's own messages the number of the job
// that was current when it was posted, so that an abandoned job never moves
// the next one's bar. Owned by the dialog; the window is set once it exists
// (UI thread), Post() from any thread while it lives.
class WindowInbox final : public NotificationSink {
public:
    void SetWindow(HWND window) noexcept { window_.store(window); }
    void Post(const Notification& notification) noexcept override;

    // Starts a new job number; posts made from now on carry it. Call once the
    // previous job has been joined, so none of its posts is still under way.
    std::uint32_t NextJob() noexcept { return ++job_; }
    [[nodiscard]] std::uint32_t Job() const noexcept { return job_.load(); }

private:
    std::atomic<HWND> window_{nullptr};
    std::atomic<std::uint32_t> job_{0};
};

}  // namespace korvane
