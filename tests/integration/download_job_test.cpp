// The download job against the simulator at 127.0.3.x: what reaches the
// device, what the front end is told, and every way a job ends, at both paces.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "devsim/device_simulator.hpp"
#include "download/download_worker.hpp"
#include "download/notification_queue.hpp"
#include "link/device_address.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using devsim::FaultPlan;
using testing::DevicePort;
using testing::StartDevice;

std::string Device(int n) {
    return "127.0.3." + std::to_string(n);
}

std::shared_ptr<const PacketQueue> Queue(std::size_t size) {
    const testing::TempDir dir;
    return LoadFirmware(dir.WriteFile("fw.zip", testing::SampleBytes(size))).queue;
}

// One front end of one device: the link, what reached it, and the job.
struct Job {
    NotificationQueue sink;
    DeviceLink link{sink};
    std::vector<Notification> posts;
    std::unique_ptr<DownloadWorker> worker;

    Job(int device, const std::shared_ptr<const PacketQueue>& queue,
        DownloadPace pace = DownloadPace::Described) {
        Renew(device, queue, pace);
    }
    // A new job on the same link (its abort flag cleared), as "DownLoad" makes one.
    void Renew(int device, const std::shared_ptr<const PacketQueue>& queue, DownloadPace pace) {
        link.Abort().store(false);
        worker = std::make_unique<DownloadWorker>(link, *ParseDeviceAddress(Device(device)), queue,
                                                  5000ms, pace,
                                                  LinkRoute{.port = DevicePort(Device(device))});
    }
    // Starts the job and takes notifications until its last one.
    DownloadOutcome Run() {
        EXPECT_TRUE(worker->Start());
        const auto deadline = Clock::now() + 60s;
        while (auto post = sink.PopUntil(deadline)) {
            posts.push_back(*post);
            if (post->code == UM_DOWNLOAD_DONE || post->code == UM_UDP_INIT_FAILED) {
                break;
            }
        }
        worker->Join();
        while (auto late = sink.PopFor(100ms)) {
            posts.push_back(*late);
        }
        return worker->Outcome().value_or(DownloadOutcome{});
    }
    [[nodiscard]] std::size_t Count(unsigned code) const {
        return static_cast<std::size_t>(std::ranges::count(posts, code, &Notification::code));
    }
};

// Every behaviour holds at both paces; the fast one uses the devices 100 higher.
class DownloadJob : public ::testing::TestWithParam<DownloadPace> {
protected:
    [[nodiscard]] static int At(int device) {
        return device + (GetParam() == DownloadPace::Fast ? 100 : 0);
    }
};
INSTANTIATE_TEST_SUITE_P(Paces, DownloadJob,
                         ::testing::Values(DownloadPace::Described, DownloadPace::Fast),
                         [](const auto& pace) {
                             return pace.param == DownloadPace::Fast ? "Fast" : "Described";
                         });

// Files of every shape arrive whole, in the image file the device writes,
// with N acknowledgements, then one UM_DOWNLOAD_DONE(1), never a datagram
// ahead of the device, whatever doubled, garbled or sequence-less replies
// come. At the described pace the receive loop's 10 ms pause stands between
// acknowledgements (bound: a fifth of it, as a reply that comes while the loop
// still drains is taken in the same look, which a slow build such as a
// sanitizer's makes common; without the pause a datagram takes well under 1 ms
// here).
TEST_P(DownloadJob, FilesArriveWholeWithExactProgress) {
    // clang-format off
    const std::vector<std::pair<std::size_t, FaultPlan>> cases = {
        {0, {}}, {1, {}}, {8000, {}}, {8001, {}}, {1 << 20, {}},
        {20000, {.garbage_before_reply = true}}, {20000, {.duplicate_acks = true}},
        {20000, {.late_duplicate = 30ms}}, {20000, {.zero_sequence = true}},
    };
    // clang-format on
    const testing::TempDir out;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [size, faults] = cases[i];
        SCOPED_TRACE(size);
        auto device =
            StartDevice(Device(At(1 + static_cast<int>(i))), faults, {.out_dir = out.Path()});
        const auto queue = Queue(size);
        Job job(At(1 + static_cast<int>(i)), queue, GetParam());
        const auto start = Clock::now();
        const DownloadOutcome outcome = job.Run();
        const std::size_t n = queue->size();
        EXPECT_TRUE(GetParam() == DownloadPace::Fast || Clock::now() - start >= (n - 1) * 2ms);
        EXPECT_EQ(outcome.result, DownloadResult::Succeeded);
        EXPECT_EQ(outcome.acknowledged, n);
        EXPECT_EQ(job.worker->Acknowledged(), n);
        ASSERT_EQ(job.posts.size(), n + 1);
        EXPECT_EQ(job.Count(UM_PACKET_ACKED), n);
        EXPECT_EQ(job.posts.back(), (Notification{.code = UM_DOWNLOAD_DONE, .first = 1}));
        ASSERT_TRUE(device->WaitForTransfers(1, 5s));
        const auto transfer = device->Transfers().at(0);
        EXPECT_EQ(transfer.verdict, devsim::TransferVerdict::Ok);
        std::ifstream image(transfer.path, std::ios::binary);  // in order, else refused
        EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(image), {}),
                  testing::SampleBytes(size));
        EXPECT_EQ(device->Overtaken(), 0u);
    }
}

// Failures end the job at the failing datagram after its full wait, and nothing
// after it is sent; late copies of the acknowledgements before it release
// nothing (200 ms late: after the next answer even on a loaded machine, else
// the header's copy would pass for the first chunk's and the job would never
// learn that the device echoes sequences). Thirty devices that acknowledge twice and refuse the end
// meet every interleaving of a duplicate and the next send: none stands in for the end's verdict.
TEST_P(DownloadJob, FailuresStopAtTheFailingDatagram) {
    const auto queue = Queue(320000);
    const auto n = static_cast<std::uint32_t>(queue->size());
    struct Case {
        FaultPlan faults;
        DownloadResult result;
        std::size_t index;
    };
    std::vector<Case> cases = {
        {{.refuse_nth = 1}, DownloadResult::Refused, 0},
        {{.drop_reply_nth = 3}, DownloadResult::TimedOut, 2},
        {{.drop_reply_nth = n}, DownloadResult::TimedOut, n - 1},
        {{.reply_delay = 5500ms}, DownloadResult::TimedOut, 0},
        {{.drop_reply_nth = 11, .late_duplicate = 200ms}, DownloadResult::TimedOut, 10},
        {{.drop_reply_nth = 2, .late_duplicate = 30ms}, DownloadResult::TimedOut, 1},
        {{.refuse_nth = 21, .late_duplicate = 200ms}, DownloadResult::Refused, 20},
    };
    cases.resize(34, {{.refuse_nth = n, .duplicate_acks = true}, DownloadResult::Refused, n - 1});
    std::vector<std::future<void>> runs;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            const int address = At(20 + static_cast<int>(i));
            auto device = StartDevice(Device(address), cases[i].faults);
            Job job(address, queue, GetParam());
            const auto start = Clock::now();
            const DownloadOutcome outcome = job.Run();
            const auto took = Clock::now() - start;
            EXPECT_EQ(outcome.result, cases[i].result) << i;
            EXPECT_EQ(outcome.failed_index, cases[i].index) << i;
            EXPECT_EQ(outcome.acknowledged, cases[i].index) << i;
            EXPECT_EQ(job.Count(UM_PACKET_ACKED), cases[i].index) << i;
            EXPECT_EQ(job.posts.back(), (Notification{.code = UM_DOWNLOAD_DONE, .first = 0}));
            EXPECT_GE(took, 4500ms) << i;
            EXPECT_LE(took, 8s) << i;
            EXPECT_EQ(device->Received().size(), cases[i].index + 1) << i;
            EXPECT_EQ(device->Overtaken(), 0u) << i;
        }));
    }
    for (auto& run : runs) {
        run.get();
    }
}

// The close request (window closed, Ctrl-C) fails the job at once, even in the
// end datagram's wait, which no reply will end.
TEST_P(DownloadJob, CloseFailsAtOnceEvenDuringTheEndsWait) {
    auto device = StartDevice(Device(At(70)), {.drop_reply_nth = 5});
    Job job(At(70), Queue(20000), GetParam());
    std::thread closer([&] {
        for (const auto deadline = Clock::now() + 10s;
             device->Received().size() < 5 && Clock::now() < deadline;) {
            std::this_thread::sleep_for(2ms);
        }
        std::this_thread::sleep_for(20ms);
        job.link.Abort().store(true);
        job.link.Ack().Cancel();
    });
    const auto start = Clock::now();
    const DownloadOutcome outcome = job.Run();
    closer.join();
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(outcome.result, DownloadResult::Cancelled);
    EXPECT_EQ(outcome.failed_index, 4u);
    EXPECT_EQ(job.posts.back(), (Notification{.code = UM_DOWNLOAD_DONE, .first = 0}));
}

// "DownLoad" pressed again at any moment: the running job goes away at once,
// sends nothing more and never reports a result; the next job on the same link
// works as if it had never been. (Replies 10 ms late: no job ends by itself.)
TEST_P(DownloadJob, AbandonAtAnyMomentEndsTheJobAtOnce) {
    auto device = StartDevice(Device(At(80)), {.reply_delay = 10ms});
    const auto queue = Queue(200000);
    Job job(At(80), queue, GetParam());
    for (int round = 0; round < 16; ++round) {
        job.Renew(At(80), queue, GetParam());
        ASSERT_TRUE(job.worker->Start());
        std::this_thread::sleep_for(std::chrono::microseconds(round * 2500));
        const auto pressed = Clock::now();
        job.worker.reset();
        EXPECT_LT(Clock::now() - pressed, 1s) << round;
        std::this_thread::sleep_for(20ms);
        while (auto post = job.sink.TryPop()) {
            EXPECT_NE(post->code, UM_DOWNLOAD_DONE) << round;
        }
        EXPECT_FALSE(job.sink.PopFor(50ms)) << "posted after the abandon, round " << round;
    }
    job.Renew(At(80), queue, GetParam());
    EXPECT_EQ(job.Run().result, DownloadResult::Succeeded);
    EXPECT_EQ(job.Count(UM_PACKET_ACKED), queue->size());
}

// No socket can be made: UM_UDP_INIT_FAILED (the front end shows "初始化UDP失败"),
// and no UM_DOWNLOAD_DONE.
TEST(DownloadJobEndpoint, EndpointThatCannotOpenIsReportedWithoutDone) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "runs out of descriptors on purpose; ASan+UBSan need descriptors of their own";
#elif defined(_WIN32)
    GTEST_SKIP() << "Windows has no limit on descriptors that a test could lower to fail a socket";
#else
    Job job(90, Queue(100));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest_free = ::dup(0);  // becomes the limit: no new descriptor fits
    ::close(lowest_free);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowest_free);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const DownloadOutcome outcome = job.Run();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(job.posts, (std::vector<Notification>{{.code = UM_UDP_INIT_FAILED}}));
    EXPECT_EQ(outcome.result, DownloadResult::EndpointFailed);
    EXPECT_EQ(DescribeFailure(outcome), "初始化UDP失败: Too many open files");
#endif
}

// A datagram the system will not send ends the job at once with the system's
// reason, not with a wait for a reply that cannot come.
TEST(DownloadJobEndpoint, DatagramThatCannotBeSentFailsAtOnceWithItsReason) {
    NotificationQueue sink;
    DeviceLink link(sink);
    DownloadWorker worker(link, *ParseDeviceAddress(Device(91)), Queue(100), 5000ms,
                          DownloadPace::Described, {.port = 0});
    const auto start = Clock::now();
    ASSERT_TRUE(worker.Start());
    worker.Join();
    EXPECT_LT(Clock::now() - start, 2s);
    const DownloadOutcome outcome = worker.Outcome().value_or(DownloadOutcome{});
    EXPECT_EQ(outcome.result, DownloadResult::SendFailed);
    EXPECT_EQ(outcome.failed_index, 0u);
    EXPECT_EQ(DescribeFailure(outcome), "could not send: Invalid argument");
    EXPECT_EQ(sink.TryPop(), (Notification{.code = UM_DOWNLOAD_DONE, .first = 0}));
}

}  // namespace
}  // namespace korvane
