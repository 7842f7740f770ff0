#include "download/download_worker.hpp"

#include <system_error>

#include "link/reply_rules.hpp"
#include "link/udp_endpoint.hpp"

namespace korvane {
namespace {

// DownloadPace::Fast waits on the socket in slices this long, so that a close
// request or Abandon() (which cannot wake the read) is seen soon; the slices
// only pass while the device is silent.
constexpr std::chrono::milliseconds FAST_SLICE{20};

}  // namespace

DownloadWorker::DownloadWorker(DeviceLink& link, in_addr address,
                               std::shared_ptr<const PacketQueue> queue,
                               std::chrono::milliseconds ack_wait, DownloadPace pace,
                               LinkRoute route)
    : link_(link),
      address_(address),
      queue_(std::move(queue)),
      ack_wait_(ack_wait),
      pace_(pace),
      route_(std::move(route)) {}

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
    // and the reset before it) sees this wake. A wake left pending is cleared
    // by the reset before the link's next request.
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

void DownloadWorker::ReplyGate::HandleDeviceReply(std::span<const std::uint8_t> datagram) noexcept {
    // The job's endpoint sent only download datagrams; anything else that
    // comes back to it answers nothing of the job's.
    if (!IsDownloadReply(datagram)) {
        return;
    }
    DownloadWorker& w = worker_;
    const ReplyEffects effects = DecideReplyEffects(datagram);
    std::unique_lock post_lock(w.post_mutex_, std::defer_lock);
    {
        const std::lock_guard lock(w.mutex_);
        if (w.finished_ || w.abandoned_.load()) {
            return;
        }
        if (effects.set_abort) {
            // A refusal stops the job before its next datagram; the current
            // wait runs out, as the device never acknowledges it.
            w.refusal_seen_ = true;
            w.link_.Abort().store(true);
            return;
        }
        if (w.released_ || !ReleasesDownloadWait(datagram, w.outstanding_, w.echo_.Learned())) {
            return;
        }
        if (w.echo_.RepeatsHeaderReply(w.outstanding_index_, datagram)) {
            return;  // a late copy: the device has not answered the first data datagram
        }
        w.released_ = true;
        w.echo_.Released(w.outstanding_index_, w.outstanding_, datagram);
        if (w.pace_ == DownloadPace::Described) {
            post_lock.lock();  // the receive thread posts beside the sender's Finish
        }
    }
    if (effects.post) {
        w.link_.Sink().Post(*effects.post);
    }
    if (w.pace_ == DownloadPace::Described) {
        w.link_.Ack().Set();  // the fast sender judged this itself: nobody waits on the event
    }
}

void DownloadWorker::Run() noexcept {
    started_ = std::chrono::steady_clock::now();
    (void)SendQueue();
}

bool DownloadWorker::AwaitRelease(AckWait& how, UdpEndpoint& endpoint) {
    AckEvent& ack = link_.Ack();
    // The one clock read of a wait that is released at the first try.
    const auto deadline = std::chrono::steady_clock::now() + ack_wait_;
    std::chrono::milliseconds left = ack_wait_;
    for (;;) {
        if (pace_ == DownloadPace::Described) {
            how = ack.WaitFor(left);
        } else if (ack.IsCancelled()) {
            how = AckWait::Cancelled;
        } else if (left.count() == 0) {
            how = AckWait::TimedOut;
        } else {
            // The gate judges what arrives right here, on this thread.
            endpoint.ReceiveFor(std::min(left, FAST_SLICE));
            how = AckWait::Acknowledged;  // not yet decided: look below, then again
        }
        {
            // At the fast pace the gate ran on this thread: released_ and
            // outstanding_ are this thread's alone, and need no lock.
            std::unique_lock lock(mutex_, std::defer_lock);
            if (pace_ == DownloadPace::Described) {
                lock.lock();
            }
            // The gate's decision stands, whatever ended the wait: a datagram the
            // device acknowledged is acknowledged.
            const bool released = released_;
            if (released || how != AckWait::Acknowledged || abandoned_.load()) {
                outstanding_ = {};
                return released;
            }
        }
        // Woken by a set that released nothing of this job's (another exchange
        // of the same link), or a slice of the fast wait has passed: keep
        // waiting for what is left of the time.
        left = std::max(std::chrono::ceil<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now()),
                        std::chrono::milliseconds(0));
    }
}

DownloadOutcome DownloadWorker::SendQueue() {
    DownloadOutcome outcome{.datagrams = queue_->size()};
    UdpEndpoint endpoint(gate_, pace_ == DownloadPace::Fast ? UdpEndpoint::ReceiveMode::Caller
                                                            : UdpEndpoint::ReceiveMode::Thread);
    endpoint.SetRemote(address_, route_);
    if (const std::error_code error = endpoint.Open()) {
        outcome.result = DownloadResult::EndpointFailed;
        outcome.error = error;
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
        const PacketRecord& record = (*queue_)[index];
        std::error_code send_error;
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
                fail(refusal_seen_ ? DownloadResult::Refused : DownloadResult::Aborted, index,
                     record);
                break;
            }
            if (pace_ == DownloadPace::Described) {
                ack.Reset();  // the fast pace does not wait on the event
            }
            outstanding_ = {.code = record.Head()[0], .sequence = record.Sequence()};
            outstanding_index_ = index;
            released_ = false;
            send_error = endpoint.Send(record.Head(), record.Payload());
        }
        if (send_error) {
            // Nothing went out, so no reply can come: waiting would only hide the reason.
            fail(DownloadResult::SendFailed, index, record);
            outcome.error = send_error;
            break;
        }
        AckWait how = AckWait::TimedOut;
        if (AwaitRelease(how, endpoint)) {
            // This thread alone counts; the front end only reads.
            acknowledged_.store(acknowledged_.load(std::memory_order_relaxed) + 1,
                                std::memory_order_release);
            ++outcome.acknowledged;
            continue;
        }
        if (abandoned_.load()) {
            fail(DownloadResult::Abandoned, index, record);
        } else if (how == AckWait::Cancelled) {
            // The close request is no acknowledgement, not even for the end datagram.
            fail(DownloadResult::Cancelled, index, record);
        } else {
            // A refused datagram is not acknowledged: its wait runs out.
            const std::lock_guard lock(mutex_);
            fail(refusal_seen_ && link_.Abort().load() ? DownloadResult::Refused
                                                       : DownloadResult::TimedOut,
                 index, record);
        }
        break;
    }
    Finish(outcome);
    return outcome;  // the endpoint goes now: its receive thread stops, its socket closes
}

void DownloadWorker::Finish(DownloadOutcome outcome) {
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    std::unique_lock post_lock(post_mutex_, std::defer_lock);
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
        if (abandoned_.load()) {
            outcome.result = DownloadResult::Abandoned;
            outcome_ = outcome;
            return;
        }
        outcome_ = outcome;
        post_lock.lock();
    }
    if (outcome.result == DownloadResult::EndpointFailed) {
        link_.Sink().Post(Notification{.code = UM_UDP_INIT_FAILED});
        return;
    }
    link_.Sink().Post(
        Notification{.code = UM_DOWNLOAD_DONE, .first = outcome.Succeeded() ? 1u : 0u});
}

}  // namespace korvane
