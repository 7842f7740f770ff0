// Which datagrams the simulated device refuses and what it sends instead of
// its honest reply.
#include "devsim/fault_plan.hpp"

#include <gtest/gtest.h>

#include "link/reply_rules.hpp"
#include "support/wire_bytes.hpp"

namespace korvane::devsim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using korvane::testing::Hex;

const Bytes ACK = Hex("12 01 02 06");
const Bytes NAK = Hex("12 01 02 15");
const Bytes BIG{0xEE};  // the oversized garbage datagram, as the tests name it
const FaultPlan GARBAGE{.duplicate_acks = true, .garbage_before_reply = true};

TEST(FaultPlan, RefusesAndRewritesRepliesAsPlanned) {
    const std::vector<std::tuple<FaultPlan, std::uint64_t, const char*, bool>> refusals = {
        {{.refuse_nth = 3}, 2, "13 00 02 00 00", false},
        {{.refuse_nth = 3}, 3, "43 00 00 00 00", true},
        {{.refuse_nth = 3}, 4, "43 00 00 00 00", false},
        {{.refuse_end = true}, 9, "13 00 09 00 00", true},
        {{.refuse_end = true}, 9, "12 00 09 00 00", false},
        {{.refuse_end = true}, 9, "", false},
    };
    for (const auto& [plan, ordinal, request, refused] : refusals) {
        EXPECT_EQ(RefusesDatagram(plan, ordinal, Hex(request)), refused) << ordinal << request;
    }
    // plan, ordinal, honest reply -> delay, datagrams sent
    const std::vector<std::tuple<FaultPlan, std::uint64_t, std::optional<Bytes>,
                                 std::chrono::milliseconds, std::vector<Bytes>>>
        replies = {
            {{}, 1, ACK, 0ms, {ACK}},
            {{}, 1, std::nullopt, 0ms, {}},
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
            shown.push_back(datagram.size() > 5200 ? BIG : datagram);
        }
        EXPECT_EQ(shown, sent) << ordinal;
    }
    // The oversized one acknowledges when a receiver cuts it to its 5200-byte buffer.
    const auto garbage = PlanReplies(GARBAGE, 1, ACK).datagrams;
    EXPECT_EQ(garbage.at(2).size(), GARBAGE_OVERSIZED_SIZE);
    EXPECT_TRUE(DecideReplyEffects(std::span(garbage[2]).first(5200)).set_ack);
}

}  // namespace
}  // namespace korvane::devsim
