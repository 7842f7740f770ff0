// The simulated device in-process over real UDP, at 127.0.92.1.
#include "devsim/device_simulator.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/loopback_socket.hpp"
#include "support/wire_bytes.hpp"

namespace korvane::devsim {
namespace {

using namespace std::chrono_literals;
using namespace korvane::testing;

TEST(DeviceSimulator, ForgetsReportedTransfersWithoutHistoryAndStopsDuringADelay) {
    DeviceSimulator device(
        {.bind_address = "127.0.92.1", .faults = {.reply_delay = 200ms}, .keep_history = false});
    std::atomic<int> reported{0};
    device.OnTransfer([&reported](const TransferRecord& record) { reported += record.ok; });
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    LoopbackSocket client;
    for (const auto text : {ABC_HEADER, ABC_DATA, ABC_END}) {
        ASSERT_TRUE(client.SendTo(LoopbackAddress("127.0.92.1", DEVICE_PORT), Hex(text)));
        EXPECT_EQ(client.Receive(5s).value().bytes.at(3), REPLY_ACK);
    }
    ASSERT_TRUE(device.WaitForTransfers(1, 2s));
    EXPECT_EQ(reported.load(), 1);
    EXPECT_TRUE(device.Transfers().empty());
    EXPECT_TRUE(device.Received().empty());
    // A stop cuts a reply's delay short: that reply is never sent.
    ASSERT_TRUE(client.SendTo(LoopbackAddress("127.0.92.1", DEVICE_PORT), RESTORE_IP_REQUEST));
    std::this_thread::sleep_for(50ms);
    device.Stop();
    EXPECT_FALSE(client.Receive(500ms).has_value());
}

}  // namespace
}  // namespace korvane::devsim
