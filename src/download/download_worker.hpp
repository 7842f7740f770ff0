#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "download/download_outcome.hpp"
#include "download/packet_queue.hpp"
#include "link/device_link.hpp"
#include "link/protocol.hpp"

namespace korvane {

// Posted instead of UM_DOWNLOAD_DONE when the job's UDP endpoint cannot be
// opened (WM_USER + 110; both values 0): the front end shows "初始化UDP失败"
// on its own thread.
inline constexpr unsigned UM_UDP_INIT_FAILED = 1134;

// One download to one device: sends its queue stop-and-wait on a thread of
// its own through a UdpEndpoint to ADDRESS:21818, using the front end's
// DeviceLink (AckEvent, AbortFlag, sink). The front end owns the worker and
// keeps the DeviceLink alive for the worker's whole life; one job at a time
// per DeviceLink. The queue is shared read-only (a fleet sends one queue to
// many devices).
//
// It reports to the link's sink, always from its own threads: UM_PACKET_ACKED
// per acknowledgement (by the reply rules, as replies arrive), then exactly
// one UM_DOWNLOAD_DONE (1 success, 0 failure), or UM_UDP_INIT_FAILED instead
// when the endpoint cannot be opened. Once the job has ended or been
// abandoned, nothing more is posted and replies are no longer applied.
//
// Abandon() (the operator starts another download, the window goes away)
// wakes a waiting sender at once; the job then sends nothing more and posts
// nothing. The destructor abandons a job still running and joins its thread;
// the endpoint (socket and receive thread) and the queue go with it.
//
// A front end's "DownLoad", step by step:
//   worker.reset();                      // abandon and join the previous job
//   link.Abort().store(false);
//   CheckDownloadInputs(path, address)   // refusal: show it (and beep if asked)
//   ... save the settings ...
//   LoadFirmwarePackets(path)            // refusal: show it
//   prime the bar for packets.Count() datagrams
//   worker = make_unique<DownloadWorker>(link, inputs.address, packets.queue);
//   worker->Start();
// Notifications the previous job posted before it was abandoned may still
// stand in the front end's own event queue: a front end that must not count
// them tags its posts with a job number it advances after the reset.
// The close request is link.Ack().Cancel() (with the AbortFlag set): the job
// fails at once, whichever datagram it waits for.
class DownloadWorker {
public:
    DownloadWorker(DeviceLink& link, in_addr address, std::shared_ptr<const PacketQueue> queue,
                   std::chrono::milliseconds ack_wait = std::chrono::milliseconds(ACK_WAIT_MS));
    ~DownloadWorker();
    DownloadWorker(const DownloadWorker&) = delete;
    DownloadWorker& operator=(const DownloadWorker&) = delete;

    // Starts the job's thread; false when no thread can be made (nothing sent).
    [[nodiscard]] bool Start();
    // Lets the job go: see above. Returns at once; safe at any time, repeatedly.
    void Abandon();
    // Waits until the job's thread has ended (it always ends: every wait is bounded).
    void Join();

    // The outcome, once the job has ended (posted before its last notification).
    [[nodiscard]] std::optional<DownloadOutcome> Outcome() const;
    [[nodiscard]] std::size_t Datagrams() const noexcept { return queue_ ? queue_->size() : 0; }

private:
    // The endpoint's owner: applies the link's reply rules while the job runs.
    class ReplyGate final : public DeviceReplyHandler {
    public:
        explicit ReplyGate(DownloadWorker& worker) : worker_(worker) {}
        void HandleDeviceReply(std::span<const std::uint8_t> datagram) override;

    private:
        DownloadWorker& worker_;
    };

    void Run();
    [[nodiscard]] DownloadOutcome SendQueue();
    // Records the outcome and posts the job's last notification, unless abandoned.
    void Finish(DownloadOutcome outcome);

    DeviceLink& link_;
    const in_addr address_;
    const std::shared_ptr<const PacketQueue> queue_;
    const std::chrono::milliseconds ack_wait_;
    ReplyGate gate_{*this};

    // Guards the decisions that must not interleave: a reply being applied,
    // the check-and-send of a datagram, abandoning, and finishing.
    mutable std::mutex mutex_;
    std::atomic<bool> abandoned_{false};
    bool finished_ = false;  // guarded by mutex_
    std::atomic<bool> refusal_seen_{false};
    std::optional<DownloadOutcome> outcome_;  // guarded by mutex_
    std::chrono::steady_clock::time_point started_;

    std::thread thread_;  // last: joined before the members above go away
};

}  // namespace korvane
