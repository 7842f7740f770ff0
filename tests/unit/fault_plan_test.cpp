// Which datagrams the simulated device refuses and what it sends instead of
// its honest reply.
#include "devsim/fault_plan.hpp"

#include <gtest/gtest.h>

#include "support/wire_bytes.hpp"

namespace korvane::devsim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using korvane::testing::Hex;

const Bytes ACK = Hex("12 01 02 06");
const Bytes NAK = Hex("12 01 02 15");
// The oversized garbage datagram (beyond a 5200-byte receive buffer) as shown
// below: its first four bytes, which look like an acknowledgement, then EE.
const Bytes BIG = Hex("12 01 02 06 EE");
const FaultPlan GARBAGE{.duplicate_acks = true, .garbage_before_reply = true};

TEST(FaultPlan, RewritesRepliesAsPlanned) {
    // plan, ordinal, honest reply -> delay, datagrams sent
    const std::vector<std::tuple<FaultPlan, std::uint64_t, std::optional<Bytes>,
                                 std::chrono::milliseconds, std::vector<Bytes>>>
        replies = {
            {{}, 1, ACK, 0ms, {ACK}},
            {{.drop_reply_nth = 5}, 5, ACK, 0ms, {}},
            {{.drop_reply_nth = 5}, 4, ACK, 0ms, {ACK}},
            {{.reply_delay = 250ms}, 1, NAK, 250ms, {NAK}},
            {{.drop_reply_nth = 1, .reply_delay = 250ms}, 1, ACK, 0ms, {}},
            {{.duplicate_acks = true}, 1, ACK, 0ms, {ACK, ACK}},
            {{.duplicate_acks = true}, 1, NAK, 0ms, {NAK}},
            {GARBAGE, 1, ACK, 0ms, {Hex("12 01 02"), Hex("10 01 02 06"), BIG, ACK, ACK}},
            {{.drop_reply_nth = 1, .garbage_before_reply = true}, 1, ACK, 0ms, {}},
        };
    for (const auto& [plan, ordinal, reply, delay, sent] : replies) {
        const OutgoingPlan out = PlanReplies(plan, ordinal, reply);
        EXPECT_EQ(out.delay, delay);
        std::vector<Bytes> shown;
        for (const Bytes& datagram : out.datagrams) {
            shown.push_back(datagram.size() > 5200
                                ? Bytes{datagram[0], datagram[1], datagram[2], datagram[3], 0xEE}
                                : datagram);
        }
        EXPECT_EQ(shown, sent) << ordinal;
    }
}

}  // namespace
}  // namespace korvane::devsim
