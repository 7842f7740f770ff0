#pragma once

#include <functional>
#include <memory>

#include "base/inet.hpp"
#include "download/download_worker.hpp"
#include "download/packet_queue.hpp"
#include "link/device_link.hpp"

namespace korvane {

// A window's download job: at most one at a time, on the window's link.
// Stopping it abandons and joins it and then calls `next_job`, which moves
// the window's job number on, so that what the old job posted is known as
// stale. Owned by the dialog (it must go before the link and what the link
// posts to); made, used and destroyed on the UI thread.
class WindowJob {
public:
    WindowJob(DeviceLink& link, std::function<void()> next_job)
        : link_(link), next_job_(std::move(next_job)) {}
    ~WindowJob() { (void)Stop(); }
    WindowJob(const WindowJob&) = delete;
    WindowJob& operator=(const WindowJob&) = delete;

    // Abandons and joins a running job; true when one was still running.
    bool Stop();
    // DownLoad's first step: stops the job (with a pause after one that still
    // ran) and clears the AbortFlag for the next.
    void StopBeforeNext();
    // Starts a job that sends `queue` to `address` at `pace`; false when no
    // thread can be made for it (nothing was sent).
    [[nodiscard]] bool Start(in_addr address, std::shared_ptr<const PacketQueue> queue,
                             DownloadPace pace);
    // Waits for the job to end (once something has woken it); false when there is none.
    bool Join();

private:
    DeviceLink& link_;
    std::function<void()> next_job_;
    std::unique_ptr<DownloadWorker> worker_;
};

}  // namespace korvane
