// The download job against the device simulator on loopback: every datagram
// on the wire, every notification the front end gets, and the ways a job ends.
// Each TEST has its own device address 127.0.3.x.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "devsim/device_simulator.hpp"
#include "download/download_worker.hpp"
#include "download/firmware_packets.hpp"
#include "download/md5_context.hpp"
#include "download/notification_queue.hpp"
#include "link/device_link.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::StartDevice;
using testing::TempDir;

in_addr Address(const std::string& text) {
    in_addr address{};
    EXPECT_EQ(::inet_aton(text.c_str(), &address), 1) << text;
    return address;
}

// Polls until `done` holds or `timeout` passes.
template <typename Condition>
bool Eventually(Condition done, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// A front end of one device: the link with its sink, and what reached it.
struct FrontEnd {
    NotificationQueue sink;
    DeviceLink link{sink};
    std::vector<Notification> posts;

    // Takes notifications until the job's last one, or `timeout`.
    bool CollectUntilDone(std::chrono::milliseconds timeout = 30s) {
        const auto deadline = Clock::now() + timeout;
        while (auto post = sink.PopUntil(deadline)) {
            posts.push_back(*post);
            if (post->code == UM_DOWNLOAD_DONE || post->code == UM_UDP_INIT_FAILED) {
                return true;
            }
        }
        return false;
    }
    // Takes whatever else arrives within `quiet`.
    void CollectRest(std::chrono::milliseconds quiet = 300ms) {
        while (auto post = sink.PopFor(quiet)) {
            posts.push_back(*post);
        }
    }
    [[nodiscard]] std::size_t Count(unsigned code) const {
        return static_cast<std::size_t>(std::count_if(
            posts.begin(), posts.end(), [code](const Notification& n) { return n.code == code; }));
    }
};

FirmwarePackets Packets(const TempDir& dir, const std::vector<std::uint8_t>& bytes) {
    PacketsLoad load = LoadFirmwarePackets(dir.WriteFile("firmware.zip", bytes));
    EXPECT_FALSE(load.refusal);
    return load.packets;
}

// A whole download of `size` bytes arrives intact, with every notification in order.
void ExpectIntactDownload(const std::string& address, std::size_t size) {
    const TempDir dir;
    const auto bytes = testing::SampleBytes(size);
    const FirmwarePackets packets = Packets(dir, bytes);
    const std::size_t n = packets.Count();
    ASSERT_EQ(n, 2 + (size + 7999) / 8000);
    auto device = StartDevice(address);
    FrontEnd front;
    DownloadWorker worker(front.link, Address(address), packets.queue);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(front.CollectUntilDone());
    worker.Join();
    front.CollectRest();

    // The device got the file, datagram by datagram, numbered 0..N-1.
    ASSERT_TRUE(device->WaitForTransfers(1, 5s));
    const auto transfers = device->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_TRUE(transfers[0].ok);
    EXPECT_EQ(transfers[0].length, size);
    EXPECT_EQ(transfers[0].image, bytes);
    std::vector<std::uint16_t> sequences(n);
    std::iota(sequences.begin(), sequences.end(), std::uint16_t{0});
    EXPECT_EQ(transfers[0].sequences, sequences);
    EXPECT_EQ(device->Received().size(), n);

    // N acknowledgements, then exactly one UM_DOWNLOAD_DONE(1), and nothing after it.
    ASSERT_EQ(front.posts.size(), n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(front.posts[i], Notification{.code = UM_PACKET_ACKED}) << i;
    }
    EXPECT_EQ(front.posts.back(), (Notification{.code = UM_DOWNLOAD_DONE, .first = 1}));

    const auto outcome = worker.Outcome();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->result, DownloadResult::Succeeded);
    EXPECT_EQ(outcome->datagrams, n);
    EXPECT_EQ(outcome->acknowledged, n);
}

TEST(DownloadJob, EmptyFileGoesOutAsHeaderAndEnd) {
    ExpectIntactDownload("127.0.3.1", 0);
}
TEST(DownloadJob, OneByte) {
    ExpectIntactDownload("127.0.3.2", 1);
}
TEST(DownloadJob, ExactlyOneChunk) {
    ExpectIntactDownload("127.0.3.3", 8000);
}
TEST(DownloadJob, OneByteMoreThanAChunk) {
    ExpectIntactDownload("127.0.3.4", 8001);
}
TEST(DownloadJob, TwentyThousandBytes) {
    ExpectIntactDownload("127.0.3.5", 20000);
}
TEST(DownloadJob, AboutOneMebibyte) {
    ExpectIntactDownload("127.0.3.6", (1u << 20) + 123);
}

// Runs a job of `size` bytes to `address` to its end; returns how long it took.
struct EndedJob {
    FrontEnd front;
    std::optional<DownloadOutcome> outcome;
    double seconds = 0;
};

void RunToEnd(EndedJob& job, const std::string& address, std::size_t size,
              const std::function<void(DeviceLink&)>& before_start = {}) {
    const TempDir dir;
    const FirmwarePackets packets = Packets(dir, testing::SampleBytes(size));
    DownloadWorker worker(job.front.link, Address(address), packets.queue);
    if (before_start) {
        before_start(job.front.link);
    }
    const auto start = Clock::now();
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(job.front.CollectUntilDone());
    job.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    worker.Join();
    job.front.CollectRest();
    job.outcome = worker.Outcome();
}

TEST(DownloadJob, RefusedHeaderFailsWhenItsWaitRunsOut) {
    auto device = StartDevice("127.0.3.7", {.refuse_nth = 1});
    EndedJob job;
    RunToEnd(job, "127.0.3.7", 20000);
    // The refusal does not release the sender: the job fails ~5 s later, not at once.
    EXPECT_GE(job.seconds, 4.5);
    EXPECT_LE(job.seconds, 8.0);
    ASSERT_TRUE(job.outcome);
    EXPECT_EQ(job.outcome->result, DownloadResult::Refused);
    EXPECT_EQ(job.outcome->failed_index, 0u);
    EXPECT_EQ(job.outcome->acknowledged, 0u);
    EXPECT_TRUE(job.front.link.Abort().load());
    EXPECT_EQ(device->Received().size(), 1u);  // only the header
    EXPECT_EQ(job.front.posts, (std::vector<Notification>{{.code = UM_DOWNLOAD_DONE, .first = 0}}));
}

TEST(DownloadJob, MissingReplyFailsAndNothingAfterItIsSent) {
    auto device = StartDevice("127.0.3.8", {.drop_reply_nth = 3});
    EndedJob job;
    RunToEnd(job, "127.0.3.8", 20000);
    EXPECT_GE(job.seconds, 4.5);
    EXPECT_LE(job.seconds, 8.0);
    ASSERT_TRUE(job.outcome);
    EXPECT_EQ(job.outcome->result, DownloadResult::TimedOut);
    EXPECT_EQ(job.outcome->failed_index, 2u);
    EXPECT_EQ(job.outcome->failed_sequence, 2u);
    EXPECT_EQ(job.outcome->acknowledged, 2u);
    EXPECT_EQ(device->Received().size(), 3u);  // no retransmission, nothing after it
    EXPECT_EQ(job.front.Count(UM_PACKET_ACKED), 2u);
    EXPECT_EQ(job.front.posts.back(), (Notification{.code = UM_DOWNLOAD_DONE, .first = 0}));
    EXPECT_EQ(job.front.Count(UM_DOWNLOAD_DONE), 1u);
}

TEST(DownloadJob, GarbageAndShortRepliesAreIgnored) {
    auto device = StartDevice("127.0.3.9", {.garbage_before_reply = true});
    EndedJob job;
    RunToEnd(job, "127.0.3.9", 20000);
    ASSERT_TRUE(job.outcome);
    EXPECT_EQ(job.outcome->result, DownloadResult::Succeeded);
    EXPECT_EQ(job.front.Count(UM_PACKET_ACKED), 5u);
    ASSERT_TRUE(device->WaitForTransfers(1, 5s));
    EXPECT_TRUE(device->Transfers()[0].ok);
}

TEST(DownloadJob, DuplicateAcknowledgementsStillDeliverEveryDatagram) {
    auto device = StartDevice("127.0.3.10", {.duplicate_acks = true});
    EndedJob job;
    RunToEnd(job, "127.0.3.10", 20000);
    ASSERT_TRUE(job.outcome);
    EXPECT_EQ(job.outcome->result, DownloadResult::Succeeded);
    EXPECT_EQ(job.outcome->acknowledged, 5u);
    ASSERT_TRUE(device->WaitForTransfers(1, 5s));
    EXPECT_TRUE(device->Transfers()[0].ok);
    EXPECT_EQ(device->Received().size(), 5u);
    // Every copy is reported; none after the job's end.
    EXPECT_EQ(job.front.posts.back().code, UM_DOWNLOAD_DONE);
}

// A setting of AckEvent that no wait consumed (a late or duplicate reply) must
// not stand in for the acknowledgement of the next datagram.
TEST(DownloadJob, StaleAcknowledgementDoesNotReleaseTheNextDatagram) {
    auto device = StartDevice("127.0.3.11", {.drop_reply_nth = 1});
    EndedJob job;
    RunToEnd(job, "127.0.3.11", 20000, [](DeviceLink& link) { link.Ack().Set(); });
    ASSERT_TRUE(job.outcome);
    EXPECT_EQ(job.outcome->result, DownloadResult::TimedOut);
    EXPECT_EQ(job.outcome->failed_index, 0u);
    EXPECT_GE(job.seconds, 4.5);
    EXPECT_EQ(device->Received().size(), 1u);
}

// The close request (window close box, Ctrl-C) wakes the sender at once and is
// no acknowledgement, not even of the end datagram.
TEST(DownloadJob, CloseDuringTheEndDatagramsWaitFails) {
    auto device = StartDevice("127.0.3.12", {.drop_reply_nth = 5});
    const TempDir dir;
    const FirmwarePackets packets = Packets(dir, testing::SampleBytes(20000));
    FrontEnd front;
    DownloadWorker worker(front.link, Address("127.0.3.12"), packets.queue);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(Eventually([&] { return device->Received().size() == 5; }));
    std::this_thread::sleep_for(50ms);  // the sender is waiting for the end's reply
    const auto closed = Clock::now();
    front.link.Abort().store(true);
    front.link.Ack().Cancel();
    ASSERT_TRUE(front.CollectUntilDone());
    EXPECT_LT(Clock::now() - closed, 1s);
    worker.Join();
    front.CollectRest();
    EXPECT_EQ(front.posts.back(), (Notification{.code = UM_DOWNLOAD_DONE, .first = 0}));
    EXPECT_EQ(front.Count(UM_PACKET_ACKED), 4u);
    const auto outcome = worker.Outcome();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->result, DownloadResult::Cancelled);
    EXPECT_EQ(outcome->failed_index, 4u);
    EXPECT_EQ(outcome->failed_sequence, 4u);
}

TEST(DownloadJob, CloseBeforeAnyDatagramSendsNothing) {
    auto device = StartDevice("127.0.3.17");
    EndedJob job;
    RunToEnd(job, "127.0.3.17", 20000, [](DeviceLink& link) { link.Ack().Cancel(); });
    ASSERT_TRUE(job.outcome);
    EXPECT_EQ(job.outcome->result, DownloadResult::Cancelled);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(device->Received().empty());
}

// "DownLoad" pressed again while a job waits: the old job is woken, sends
// nothing more, reports nothing, and goes away whole; the next job on the same
// link works as if the old one had never been.
TEST(DownloadJob, NewDownloadAbandonsTheRunningOneCleanly) {
    auto old_device = StartDevice("127.0.3.13", {.drop_reply_nth = 3});
    auto new_device = StartDevice("127.0.3.14");
    const TempDir dir;
    const FirmwarePackets packets = Packets(dir, testing::SampleBytes(20000));
    FrontEnd front;
    auto old_job =
        std::make_unique<DownloadWorker>(front.link, Address("127.0.3.13"), packets.queue);
    ASSERT_TRUE(old_job->Start());
    ASSERT_TRUE(Eventually([&] { return old_device->Received().size() == 3; }));
    std::this_thread::sleep_for(50ms);  // waiting for the reply that never comes

    const auto pressed = Clock::now();
    old_job->Abandon();
    front.CollectRest(0ms);  // what was posted before the abandon
    const std::size_t posts_before = front.posts.size();
    old_job.reset();  // joins: thread, endpoint and socket are gone
    EXPECT_LT(Clock::now() - pressed, 1s);
    front.CollectRest();
    EXPECT_EQ(front.posts.size(), posts_before);  // nothing after the abandon
    EXPECT_EQ(front.Count(UM_DOWNLOAD_DONE), 0u);
    EXPECT_EQ(front.Count(UM_PACKET_ACKED), 2u);
    EXPECT_EQ(old_device->Received().size(), 3u);

    front.posts.clear();
    front.link.Abort().store(false);
    DownloadWorker new_job(front.link, Address("127.0.3.14"), packets.queue);
    ASSERT_TRUE(new_job.Start());
    ASSERT_TRUE(front.CollectUntilDone());
    new_job.Join();
    front.CollectRest();
    EXPECT_EQ(front.Count(UM_PACKET_ACKED), 5u);
    EXPECT_EQ(front.posts.back(), (Notification{.code = UM_DOWNLOAD_DONE, .first = 1}));
    EXPECT_EQ(front.Count(UM_DOWNLOAD_DONE), 1u);
    ASSERT_TRUE(new_device->WaitForTransfers(1, 5s));
    EXPECT_TRUE(new_device->Transfers()[0].ok);
    EXPECT_EQ(old_device->Received().size(), 3u);
}

// Abandons at many points of a running job (between the checks, the sends and
// the waits): each time the job goes away at once and reports nothing after.
TEST(DownloadJob, AbandonAtAnyMomentEndsTheJobAtOnce) {
    auto device = StartDevice("127.0.3.15");
    const TempDir dir;
    const FirmwarePackets packets = Packets(dir, testing::SampleBytes(200000));
    FrontEnd front;
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        front.link.Abort().store(false);
        auto job =
            std::make_unique<DownloadWorker>(front.link, Address("127.0.3.15"), packets.queue);
        ASSERT_TRUE(job->Start());
        std::this_thread::sleep_for(std::chrono::microseconds(round * 1700));
        const auto pressed = Clock::now();
        job->Abandon();
        front.posts.clear();
        front.CollectRest(0ms);
        job.reset();
        EXPECT_LT(Clock::now() - pressed, 1s);
        std::this_thread::sleep_for(20ms);
        EXPECT_FALSE(front.sink.TryPop()) << "posted after the abandon";
        EXPECT_EQ(front.Count(UM_DOWNLOAD_DONE), 0u);
    }
}

// No socket can be made: the job posts UM_UDP_INIT_FAILED for the front end to
// show "初始化UDP失败", and no UM_DOWNLOAD_DONE.
TEST(DownloadJob, EndpointThatCannotOpenIsReportedWithoutDone) {
#if defined(__SANITIZE_ADDRESS__)
    // UBSan's checks need descriptors of their own (a pipe to probe memory).
    GTEST_SKIP() << "runs out of descriptors on purpose; not under ASan+UBSan";
#endif
    const TempDir dir;
    const FirmwarePackets packets = Packets(dir, testing::SampleBytes(100));
    FrontEnd front;
    DownloadWorker worker(front.link, Address("127.0.3.16"), packets.queue);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    // The lowest free descriptor number becomes the limit: no new one fits.
    const int lowest_free = ::dup(0);
    ASSERT_GE(lowest_free, 0);
    ::close(lowest_free);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowest_free);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    ASSERT_TRUE(worker.Start());
    const bool ended = front.CollectUntilDone(10s);
    worker.Join();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_TRUE(ended);
    front.CollectRest();
    EXPECT_EQ(front.posts, (std::vector<Notification>{{.code = UM_UDP_INIT_FAILED}}));
    const auto outcome = worker.Outcome();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->result, DownloadResult::EndpointFailed);
    EXPECT_EQ(DescribeFailure(*outcome), "初始化UDP失败");
}

}  // namespace
}  // namespace korvane
