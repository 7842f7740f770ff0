// The simulated device in-process, against the system's own endpoint and by
// hand over a plain socket. Each TEST has its own address 127.0.2.x.
#include "devsim/device_simulator.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "base/hex.hpp"
#include "download/firmware_image.hpp"
#include "download/md5_context.hpp"
#include "download/packet_queue.hpp"
#include "link/device_address.hpp"
#include "link/device_link.hpp"
#include "link/packet_builders.hpp"
#include "link/udp_endpoint.hpp"
#include "support/loopback_socket.hpp"
#include "support/recording_sink.hpp"
#include "support/temp_dir.hpp"
#include "support/wire_bytes.hpp"

namespace korvane::devsim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using korvane::testing::Hex;
using korvane::testing::Wire;
using Clock = std::chrono::steady_clock;
using korvane::testing::LoopbackSocket;
using korvane::testing::RecordingSink;
using korvane::testing::TempDir;

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The system's side of an exchange, stop-and-wait by hand: clear the event,
// send one datagram, wait for its acknowledgement.
class ScriptedClient {
public:
    explicit ScriptedClient(const std::string& device) : link_(sink_), endpoint_(link_) {
        endpoint_.SetRemote(*ParseDeviceAddress(device), DEVICE_PORT);
        opened_ = endpoint_.Open();
    }

    AckWait Exchange(std::span<const std::uint8_t> datagram,
                     std::chrono::milliseconds wait = std::chrono::milliseconds(ACK_WAIT_MS)) {
        link_.Ack().Reset();
        (void)endpoint_.Send(datagram);
        return link_.Ack().WaitFor(wait);
    }

    // Sends the queue in order; the count acknowledged before the first failure.
    std::size_t SendQueue(const PacketQueue& queue) {
        std::size_t acknowledged = 0;
        for (const auto& record : queue) {
            if (link_.Abort().load() || Exchange(record->Datagram()) != AckWait::Acknowledged) {
                break;
            }
            ++acknowledged;
        }
        return acknowledged;
    }

    bool Opened() const { return opened_; }
    bool Aborted() { return link_.Abort().load(); }
    std::size_t Acked() const { return sink_.Count(UM_PACKET_ACKED); }

private:
    RecordingSink sink_;
    DeviceLink link_;
    UdpEndpoint endpoint_;
    bool opened_ = false;
};

SimulatorOptions On(const std::string& address, const std::filesystem::path& out = {}) {
    SimulatorOptions options;
    options.bind_address = address;
    options.out_dir = out;
    return options;
}

void StartOrFail(DeviceSimulator& simulator) {
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
}

// A firmware file of `size` bytes in `dir`, loaded as the download loads it.
PacketQueue QueueForFile(const TempDir& dir, std::size_t size, Bytes& content) {
    content.resize(size);
    std::iota(content.begin(), content.end(), std::uint8_t{1});
    FirmwareImage image;
    EXPECT_EQ(image.Load(dir.WriteFile("firmware.zip", content)), LoadStatus::Loaded);
    return BuildPacketQueue(image);
}

TEST(DeviceSimulator, AScriptedTransferArrivesIntact) {
    const TempDir dir;
    DeviceSimulator simulator(On("127.0.2.10", dir.Path() / "images"));
    StartOrFail(simulator);
    EXPECT_EQ(simulator.ListeningOn(), "127.0.2.10:21818");
    Bytes content;
    const PacketQueue queue = QueueForFile(dir, 3 * MAX_DATA_PAYLOAD + 123, content);
    ASSERT_EQ(queue.size(), 6u);

    ScriptedClient client("127.0.2.10");
    ASSERT_TRUE(client.Opened());
    EXPECT_EQ(client.SendQueue(queue), queue.size());
    EXPECT_EQ(client.Acked(), queue.size());
    EXPECT_FALSE(client.Aborted());

    ASSERT_TRUE(simulator.WaitForTransfers(1, 2s));
    const auto record = simulator.Transfers().at(0);
    EXPECT_TRUE(record.ok);
    EXPECT_EQ(record.verdict, TransferVerdict::Ok);
    EXPECT_EQ(record.length, content.size());
    EXPECT_EQ(record.md5, Md5Context::Of(content));
    EXPECT_EQ(record.sequences, (std::vector<std::uint16_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(record.sequences_in_order);
    EXPECT_EQ(record.path, dir.Path() / "images" / (ToHex(Md5Context::Of(content)) + ".bin"));
    EXPECT_EQ(ReadFile(record.path), content);

    const auto received = simulator.Received();
    ASSERT_EQ(received.size(), queue.size());
    for (std::size_t i = 0; i < queue.size(); ++i) {
        EXPECT_EQ(received[i], Wire(*queue[i])) << "datagram " << i;
    }
}

TEST(DeviceSimulator, AWrongDigestIsRefusedAtTheEnd) {
    const TempDir dir;
    DeviceSimulator simulator(On("127.0.2.11", dir.Path() / "images"));
    StartOrFail(simulator);
    Bytes content;
    PacketQueue queue = QueueForFile(dir, 9000, content);
    Digest wrong = Md5Context::Of(content);
    wrong[3] ^= 0x40;
    queue.front() = BuildHeaderPacket(0, static_cast<std::uint32_t>(content.size()), wrong);

    ScriptedClient client("127.0.2.11");
    for (std::size_t i = 0; i + 1 < queue.size(); ++i) {
        ASSERT_EQ(client.Exchange(queue[i]->Datagram()), AckWait::Acknowledged) << i;
    }
    // The refusal sets the abort flag and does not release the wait.
    EXPECT_EQ(client.Exchange(queue.back()->Datagram(), 500ms), AckWait::TimedOut);
    EXPECT_TRUE(client.Aborted());
    ASSERT_TRUE(simulator.WaitForTransfers(1, 2s));
    const auto record = simulator.Transfers().at(0);
    EXPECT_FALSE(record.ok);
    EXPECT_EQ(record.verdict, TransferVerdict::Mismatch);
    EXPECT_TRUE(record.path.empty());
    EXPECT_EQ(record.image, content);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "images"));
}

TEST(DeviceSimulator, RefusesTheNthDatagramCountingEverythingReceived) {
    SimulatorOptions options = On("127.0.2.12");
    options.faults.refuse_nth = 3;
    DeviceSimulator simulator(options);
    StartOrFail(simulator);
    LoopbackSocket client;
    const auto send = [&](const Bytes& request) {
        EXPECT_TRUE(client.SendTo("127.0.2.12", DEVICE_PORT, request));
    };
    send(Hex("10 00 00 00"));  // unknown: not answered, but counted
    EXPECT_FALSE(client.Receive(200ms).has_value());
    send(Wire(*BuildHeaderPacket(0, 1, Md5Context::Of(Bytes{7}))));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("11 00 00 06"));
    send(Wire(*BuildDataPacket(1, Bytes{7})));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("12 00 01 15"));
    send(Wire(*BuildDataPacket(1, Bytes{7})));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("12 00 01 06"));
    send(Wire(*BuildEndPacket(2)));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("13 00 02 06"));
    ASSERT_TRUE(simulator.WaitForTransfers(1, 2s));
    EXPECT_TRUE(simulator.Transfers().at(0).ok) << "the refused chunk was not kept";
}

TEST(DeviceSimulator, DropsOnlyTheNthReplyAndStillActsOnItsDatagram) {
    SimulatorOptions options = On("127.0.2.13");
    options.faults.drop_reply_nth = 2;
    DeviceSimulator simulator(options);
    StartOrFail(simulator);
    ScriptedClient client("127.0.2.13");
    const Bytes file{1, 2, 3};
    EXPECT_EQ(client.Exchange(Wire(*BuildHeaderPacket(0, 3, Md5Context::Of(file)))),
              AckWait::Acknowledged);
    EXPECT_EQ(client.Exchange(Wire(*BuildDataPacket(1, file)), 500ms), AckWait::TimedOut);
    EXPECT_FALSE(client.Aborted());
    EXPECT_EQ(client.Exchange(Wire(*BuildEndPacket(2))), AckWait::Acknowledged);
    ASSERT_TRUE(simulator.WaitForTransfers(1, 2s));
    EXPECT_TRUE(simulator.Transfers().at(0).ok);
}

TEST(DeviceSimulator, DelaysEveryReplyAndStillStopsAtOnce) {
    LoopbackSocket client;
    {
        SimulatorOptions options = On("127.0.2.14");
        options.faults.reply_delay = 300ms;
        DeviceSimulator simulator(options);
        StartOrFail(simulator);
        for (const Bytes& request : {Hex("43 00 00 00 00"), Hex("12 00 01 00 01 00")}) {
            const auto start = Clock::now();
            ASSERT_TRUE(client.SendTo("127.0.2.14", DEVICE_PORT, request));
            const auto reply = client.Receive(5s);
            const auto took = Clock::now() - start;
            ASSERT_TRUE(reply.has_value());
            EXPECT_GE(took, 290ms);
            EXPECT_LT(took, 3s);
        }
    }
    // A stop request ends the wait of a delayed reply.
    SimulatorOptions options = On("127.0.2.14");
    options.faults.reply_delay = 5000ms;
    DeviceSimulator simulator(options);
    StartOrFail(simulator);
    ASSERT_TRUE(client.SendTo("127.0.2.14", DEVICE_PORT, Hex("43 00 00 00 00")));
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    simulator.Stop();
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_FALSE(client.Receive(200ms).has_value());
}

TEST(DeviceSimulator, DuplicatesAcknowledgementsButNotRefusals) {
    SimulatorOptions options = On("127.0.2.15");
    options.faults.duplicate_acks = true;
    options.faults.refuse_nth = 2;
    DeviceSimulator simulator(options);
    StartOrFail(simulator);
    LoopbackSocket client;
    ASSERT_TRUE(client.SendTo("127.0.2.15", DEVICE_PORT, Hex("43 00 00 00 00")));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("43 00 00 06"));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("43 00 00 06"));
    ASSERT_TRUE(client.SendTo("127.0.2.15", DEVICE_PORT, Hex("43 00 00 00 00")));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("43 00 00 15"));
    EXPECT_FALSE(client.Receive(200ms).has_value());
}

TEST(DeviceSimulator, SendsGarbageBeforeEveryReplyThatTheEndpointDrops) {
    const TempDir dir;
    SimulatorOptions options = On("127.0.2.16");
    options.faults.garbage_before_reply = true;
    DeviceSimulator simulator(options);
    StartOrFail(simulator);
    {
        LoopbackSocket client;
        ASSERT_TRUE(client.SendTo("127.0.2.16", DEVICE_PORT, Hex("12 00 07 00 01 00")));
        EXPECT_EQ(client.ReceiveBytes(2s), Hex("12 00 07"));
        EXPECT_EQ(client.ReceiveBytes(2s), Hex("10 00 07 06"));
        const auto oversized = client.Receive(2s);
        ASSERT_TRUE(oversized.has_value());
        EXPECT_GT(oversized->bytes.size(), 5200u);
        EXPECT_EQ(client.ReceiveBytes(2s), Hex("12 00 07 15")) << "no transfer in progress";
        EXPECT_FALSE(client.Receive(200ms).has_value());
    }
    // Through the system's endpoint: one acknowledgement per datagram, no more.
    Bytes content;
    const PacketQueue queue = QueueForFile(dir, 2 * MAX_DATA_PAYLOAD, content);
    ScriptedClient client("127.0.2.16");
    EXPECT_EQ(client.SendQueue(queue), queue.size());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(client.Acked(), queue.size());
    EXPECT_FALSE(client.Aborted());
    ASSERT_TRUE(simulator.WaitForTransfers(1, 2s));
    EXPECT_TRUE(simulator.Transfers().at(0).ok);
}

TEST(DeviceSimulator, AllFaultsTogether) {
    SimulatorOptions options = On("127.0.2.17");
    options.faults = FaultPlan{.refuse_nth = 1,
                               .drop_reply_nth = 2,
                               .reply_delay = 20ms,
                               .duplicate_acks = true,
                               .garbage_before_reply = true};
    DeviceSimulator simulator(options);
    StartOrFail(simulator);
    LoopbackSocket client;
    const auto replies = [&client] { return client.ReceiveUntilQuiet(300ms); };
    const Bytes restore = Hex("43 00 00 00 00");
    ASSERT_TRUE(client.SendTo("127.0.2.17", DEVICE_PORT, restore));
    EXPECT_EQ(replies(), (std::vector<Bytes>{Hex("43 00 00"), Hex("10 00 00 06"), Bytes{0xEE},
                                             Hex("43 00 00 15")}));
    ASSERT_TRUE(client.SendTo("127.0.2.17", DEVICE_PORT, restore));
    EXPECT_TRUE(replies().empty());
    ASSERT_TRUE(client.SendTo("127.0.2.17", DEVICE_PORT, restore));
    EXPECT_EQ(replies(), (std::vector<Bytes>{Hex("43 00 00"), Hex("10 00 00 06"), Bytes{0xEE},
                                             Hex("43 00 00 06"), Hex("43 00 00 06")}));
    EXPECT_EQ(simulator.Received().size(), 3u);
}

TEST(DeviceSimulator, AnswersTheMaintenanceRequests) {
    SimulatorOptions options = On("127.0.2.18");
    options.machine_code = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};
    DeviceSimulator simulator(options);
    StartOrFail(simulator);
    LoopbackSocket client;
    ASSERT_TRUE(client.SendTo("127.0.2.18", DEVICE_PORT, RESTORE_IP_REQUEST));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("43 00 00 06"));
    ASSERT_TRUE(client.SendTo("127.0.2.18", DEVICE_PORT, GET_MACHINE_CODE_REQUEST));
    EXPECT_EQ(client.ReceiveBytes(2s), Hex("81 00 00 06 00 0E A1 B2 C3 D4 E5 F6 07 18"));
    EXPECT_TRUE(simulator.Transfers().empty());
}

TEST(DeviceSimulator, ASecondSimulatorOnTheSameAddressCannotStart) {
    DeviceSimulator first(On("127.0.2.19"));
    StartOrFail(first);
    DeviceSimulator second(On("127.0.2.19"));
    std::string error;
    EXPECT_FALSE(second.Start(error));
    EXPECT_EQ(error, "cannot bind 127.0.2.19:21818: Address already in use");
    second.Stop();
    DeviceSimulator invalid(On("abc"));
    EXPECT_FALSE(invalid.Start(error));
    EXPECT_EQ(error, "'abc' is not an IPv4 address");
    first.Stop();
    first.Stop();
    // The address is free again once the first one stopped.
    EXPECT_TRUE(second.Start(error)) << error;
}

TEST(DeviceSimulator, WithoutHistoryKeepsRecordsButNoBytes) {
    SimulatorOptions options = On("127.0.2.20");
    options.keep_history = false;
    DeviceSimulator simulator(options);
    std::vector<std::string> reported;
    std::mutex mutex;
    simulator.OnTransfer([&](const TransferRecord& record) {
        const std::lock_guard lock(mutex);
        reported.push_back(ToHex(record.md5));
    });
    StartOrFail(simulator);
    ScriptedClient client("127.0.2.20");
    const Bytes file{4, 5, 6};
    const PacketQueue queue = [&] {
        PacketQueue q;
        ForEachDatagram(3, Md5Context::Of(file), file,
                        [&](std::unique_ptr<PacketRecord> r) { q.push_back(std::move(r)); });
        return q;
    }();
    EXPECT_EQ(client.SendQueue(queue), queue.size());
    ASSERT_TRUE(simulator.WaitForTransfers(1, 2s));
    EXPECT_TRUE(simulator.Received().empty());
    EXPECT_TRUE(simulator.Transfers().at(0).image.empty());
    EXPECT_EQ(simulator.Transfers().at(0).received_length, 3u);
    EXPECT_TRUE(simulator.Transfers().at(0).ok);
    const std::lock_guard lock(mutex);
    EXPECT_EQ(reported, std::vector<std::string>{ToHex(Md5Context::Of(file))});
}

}  // namespace
}  // namespace korvane::devsim
