#include "download/download_worker.hpp"

#include <system_error>

#include "link/reply_rules.hpp"
#include "link/udp_endpoint.hpp"

namespace korvane {

DownloadWorker::DownloadWorker(DeviceLink& link, in_addr address,
                               std::shared_ptr<const PacketQueue> queue,
                               std::chrono::milliseconds ack_wait)
    : link_(link), address_(address), queue_(std::move(queue)), ack_wait_(ack_wait) {}

DownloadWorker::~DownloadWorker() {
    Abandon();
    Join();
}

bool DownloadWorker::Start() {
    if (thread_.joinable() || !queue_) {
        return false;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void DownloadWorker::Abandon() {
    const std::lock_guard lock(mutex_);
    if (finished_ || abandoned_.load()) {
        return;
    }
    abandoned_.store(true);
    if (!thread_.joinable()) {
        return;  // never started: nobody to wake
    }
    // Wake the sender if it waits. Under the lock, the flag and this wake
    // cannot fall between the sender's check and its send: either the sender
    // sees the flag before sending, or its wait (which starts after the send
    // and the reset before it) sees this wake. The wake reaches the sender as
    // an acknowledgement that it discards once it sees the flag; a wake left
    // pending is cleared by the reset before the link's next request.
    link_.Ack().Set();
}

void DownloadWorker::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

std::optional<DownloadOutcome> DownloadWorker::Outcome() const {
    const std::lock_guard lock(mutex_);
    return outcome_;
}

void DownloadWorker::ReplyGate::HandleDeviceReply(std::span<const std::uint8_t> datagram) {
    const std::lock_guard lock(worker_.mutex_);
    if (worker_.finished_ || worker_.abandoned_.load()) {
        return;
    }
    if (DecideReplyEffects(datagram).set_abort) {
        worker_.refusal_seen_.store(true);
    }
    worker_.link_.HandleDeviceReply(datagram);
}

void DownloadWorker::Run() {
    started_ = std::chrono::steady_clock::now();
    (void)SendQueue();
}

DownloadOutcome DownloadWorker::SendQueue() {
    DownloadOutcome outcome{.datagrams = queue_->size()};
    UdpEndpoint endpoint(gate_);
    endpoint.SetRemote(address_, DEVICE_PORT);
    if (!endpoint.Open()) {
        outcome.result = DownloadResult::EndpointFailed;
        Finish(outcome);
        return outcome;
    }

    outcome.result = DownloadResult::Succeeded;
    const auto fail = [&outcome](DownloadResult result, std::size_t index,
                                 const PacketRecord& record) {
        outcome.result = result;
        outcome.failed_index = index;
        outcome.failed_sequence = record.Sequence();
    };
    AckEvent& ack = link_.Ack();
    for (std::size_t index = 0; index < queue_->size(); ++index) {
        const PacketRecord& record = *(*queue_)[index];
        {
            const std::lock_guard lock(mutex_);
            if (abandoned_.load()) {
                fail(DownloadResult::Abandoned, index, record);
                break;
            }
            if (ack.IsCancelled()) {
                fail(DownloadResult::Cancelled, index, record);
                break;
            }
            if (link_.Abort().load()) {
                fail(refusal_seen_.load() ? DownloadResult::Refused : DownloadResult::Aborted,
                     index, record);
                break;
            }
            // Only a reply that arrives after this send may release its wait.
            ack.Reset();
            // A datagram that does not go out shows as a missing acknowledgement.
            (void)endpoint.Send(record.Datagram());
        }
        const AckWait wait = ack.WaitFor(ack_wait_);
        if (abandoned_.load()) {
            fail(DownloadResult::Abandoned, index, record);
            break;
        }
        if (wait == AckWait::Cancelled) {
            // The close request is no acknowledgement, not even for the end datagram.
            fail(DownloadResult::Cancelled, index, record);
            break;
        }
        if (wait == AckWait::TimedOut) {
            // A refused datagram is not acknowledged: its wait runs out.
            const bool refused = refusal_seen_.load() && link_.Abort().load();
            fail(refused ? DownloadResult::Refused : DownloadResult::TimedOut, index, record);
            break;
        }
        ++outcome.acknowledged;
    }
    Finish(outcome);
    return outcome;  // the endpoint goes now: its receive thread stops, its socket closes
}

void DownloadWorker::Finish(DownloadOutcome outcome) {
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const std::lock_guard lock(mutex_);
    finished_ = true;
    if (abandoned_.load()) {
        outcome.result = DownloadResult::Abandoned;
        outcome_ = outcome;
        return;
    }
    outcome_ = outcome;
    if (outcome.result == DownloadResult::EndpointFailed) {
        link_.Sink().Post(Notification{.code = UM_UDP_INIT_FAILED});
        return;
    }
    link_.Sink().Post(
        Notification{.code = UM_DOWNLOAD_DONE, .first = outcome.Succeeded() ? 1u : 0u});
}

}  // namespace korvane
