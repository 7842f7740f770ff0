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
    // moment it arrives: one wake-up per datagram, network speed.
    Fast,
};

// One download to one device: sends its queue stop-and-wait on a thread of
// its own through a UdpEndpoint to ADDRESS:21818, using the front end's
// DeviceLink (AckEvent, AbortFlag, sink). The front end owns the worker and
// keeps the DeviceLink alive for the worker's whole life; one job at a time
// per DeviceLink. The queue is shared read-only (a fleet sends one queue to
// many devices).
//
// Each datagram's wait is released by exactly one acknowledgement that
// arrived after the datagram was sent (the endpoint drops older ones): any
// download code for the header and the data, only the end's own code 0x13 for
// the end datagram. Further replies to the same datagram, and replies with
// codes the download never sent, do nothing. So a device that acknowledges
// twice cannot release the next datagram's wait early, and the result is
// always the device's own verdict on the end datagram.
//
// It reports to the link's sink, always from its own threads and never while
// holding a lock the front end takes: UM_PACKET_ACKED once per released wait
// (so a count of them is the progress), then exactly one UM_DOWNLOAD_DONE (1
// success, 0 failure), or UM_UDP_INIT_FAILED instead when the endpoint cannot
// be opened. Once the job has ended or been abandoned nothing more is decided
// or posted, but a post already under way may still land: a front end that
// must not count it tags its posts with a job number it advances after the
// reset.
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
//   LoadFirmware(path)                   // refusal: show it
//   prime the bar for queue->size() datagrams
//   worker = make_unique<DownloadWorker>(link, inputs.address, load.queue);
//   worker->Start();
// The close request is link.Ack().Cancel() (with the AbortFlag set): the job
// fails at once, whichever datagram it waits for.
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
    // while posting.
    mutable std::mutex mutex_;
    // Taken (while mutex_ is still held) by whoever has decided to post, and
    // kept until the post is done: posts keep the order of the decisions, so
    // an acknowledgement always stands ahead of the result it led to.
    std::mutex post_mutex_;
    std::atomic<bool> abandoned_{false};
    bool finished_ = false;              // guarded by mutex_
    Outstanding outstanding_;            // the datagram waited for; code 0: none (mutex_)
    std::size_t outstanding_index_ = 0;  // its place in the queue (mutex_)
    SequenceEcho echo_;                  // (mutex_)
    bool released_ = false;              // its wait has been released (mutex_)
    bool refusal_seen_ = false;          // the device refused a datagram (mutex_)
    std::atomic<std::size_t> acknowledged_{0};
    std::optional<DownloadOutcome> outcome_;  // guarded by mutex_
    std::chrono::steady_clock::time_point started_;

    std::thread thread_;  // last: joined before the members above go away
};

}  // namespace korvane
