#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "base/inet.hpp"
#include "download/download_outcome.hpp"
#include "download/packet_queue.hpp"
#include "link/device_link.hpp"
#include "link/device_reply_handler.hpp"
#include "link/link_route.hpp"
#include "link/protocol.hpp"
#include "link/reply_rules.hpp"

namespace korvane {

class UdpEndpoint;

// How a job waits for each acknowledgement. Both send the same datagrams with
// the same 5000 ms wait and judge replies by the same rules.
enum class DownloadPace {
    // The endpoint's receive thread hands replies over (readiness wait, drain,
    // 10 ms pause): about 10.15 ms per datagram, a gap a device may rely on.
    Described,
    // The sender receives on the socket itself and judges each reply the
    // moment it arrives: one wake-up, one send and one receive per datagram,
    // and no AckEvent between the judging and the waiting, which are one thread.
    Fast,
};

// One download to one device: sends the queue stop-and-wait on a thread of
// its own through a UdpEndpoint, with the front end's DeviceLink (AckEvent,
// AbortFlag, sink), which must outlive the worker; one job at a time per link.
// The queue is shared read-only (a fleet sends one queue to many devices).
// StartDownload makes and starts workers; the destructor abandons a job still
// running and joins it, its endpoint and queue going with it.
//
// Each datagram's wait is released by one acknowledgement that arrived after
// the datagram was sent (the endpoint drops older ones): for the end datagram
// only one with its own code, and once the device is seen to echo sequences
// only one with the datagram's own sequence. So duplicates never release the
// next datagram's wait, and the result is the device's verdict on the end.
//
// Posts to the link's sink from its own threads, never under a lock the front
// end takes: UM_PACKET_ACKED per released wait, then one UM_DOWNLOAD_DONE (1
// success, 0 failure), or UM_UDP_INIT_FAILED when the endpoint cannot open.
// After Abandon() nothing more is decided or posted, though a post already
// under way may land: a front end tags posts with a job number to ignore it.
// The close request is link.Ack().Cancel(): the job fails at once.
class DownloadWorker {
public:
    DownloadWorker(DeviceLink& link, in_addr address, std::shared_ptr<const PacketQueue> queue,
                   std::chrono::milliseconds ack_wait = std::chrono::milliseconds(ACK_WAIT_MS),
                   DownloadPace pace = DownloadPace::Described, LinkRoute route = {});
    ~DownloadWorker();
    DownloadWorker(const DownloadWorker&) = delete;
    DownloadWorker& operator=(const DownloadWorker&) = delete;

    // Starts the job's thread; false when no thread can be made (nothing sent).
    [[nodiscard]] bool Start();
    // Lets the job go: see above. Returns at once; safe at any time, repeatedly.
    void Abandon();
    // Waits until the job's thread has ended (it always ends: every wait is bounded).
    void Join();

    // The outcome, once the job has ended (recorded before its last notification).
    [[nodiscard]] std::optional<DownloadOutcome> Outcome() const;
    // Datagrams whose wait an acknowledgement has released so far.
    [[nodiscard]] std::size_t Acknowledged() const noexcept { return acknowledged_.load(); }

private:
    // The endpoint's owner: lets through the replies that concern the job.
    class ReplyGate final : public DeviceReplyHandler {
    public:
        explicit ReplyGate(DownloadWorker& worker) : worker_(worker) {}
        void HandleDeviceReply(std::span<const std::uint8_t> datagram) noexcept override;

    private:
        DownloadWorker& worker_;
    };

    void Run() noexcept;
    [[nodiscard]] DownloadOutcome SendQueue();
    // Waits for the current datagram's wait to be released, cancelled,
    // abandoned or to run out; true when an acknowledgement released it.
    // DownloadPace::Fast receives on `endpoint` meanwhile.
    [[nodiscard]] bool AwaitRelease(AckWait& how, UdpEndpoint& endpoint);
    // Records the outcome and posts the job's last notification, unless abandoned.
    void Finish(DownloadOutcome outcome);

    DeviceLink& link_;
    const in_addr address_;
    const std::shared_ptr<const PacketQueue> queue_;
    const std::chrono::milliseconds ack_wait_;
    const DownloadPace pace_;
    const LinkRoute route_;
    ReplyGate gate_{*this};

    // Guards the decisions that must not interleave: a reply being judged,
    // the check-and-send of a datagram, abandoning, and finishing. Never held
    // while posting. At the fast pace the replies are judged on the job's
    // thread, so what only the judging and the waiting share (outstanding_,
    // released_) is read there without it.
    mutable std::mutex mutex_;
    // Taken (while mutex_ is still held) by whoever has decided to post, and
    // kept until the post is done: posts keep the order of the decisions, so
    // an acknowledgement always stands ahead of the result it led to. At the
    // fast pace only the job's thread posts, in order by itself: not taken there.
    std::mutex post_mutex_;
    std::atomic<bool> abandoned_{false};
    bool finished_ = false;                     // guarded by mutex_
    Outstanding outstanding_;                   // the datagram waited for; code 0: none (mutex_)
    std::size_t outstanding_index_ = 0;         // its place in the queue (mutex_)
    SequenceEcho echo_;                         // (mutex_)
    bool released_ = false;                     // its wait has been released (mutex_)
    bool refusal_seen_ = false;                 // the device refused a datagram (mutex_)
    std::atomic<std::size_t> acknowledged_{0};  // written by the job's thread alone
    std::optional<DownloadOutcome> outcome_;    // guarded by mutex_
    std::chrono::steady_clock::time_point started_;

    std::thread thread_;  // last: joined before the members above go away
};

}  // namespace korvane
