#include "devsim/fault_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/protocol.hpp"
#include "link/reply_rules.hpp"

namespace korvane::devsim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const Bytes ACK{PKT_DATA, 0x01, 0x02, REPLY_ACK};
const Bytes REFUSAL{PKT_DATA, 0x01, 0x02, REPLY_REFUSED};

TEST(FaultPlan, WithoutFaultsTheReplyGoesOutOnceAtOnce) {
    const auto out = PlanReplies(FaultPlan{}, 1, ACK);
    EXPECT_EQ(out.delay, 0ms);
    EXPECT_EQ(out.datagrams, std::vector<Bytes>{ACK});
    EXPECT_TRUE(PlanReplies(FaultPlan{}, 1, std::nullopt).datagrams.empty());
}

TEST(FaultPlan, RefusesAndDropsOnlyTheirOwnDatagram) {
    const FaultPlan plan{.refuse_nth = 3, .drop_reply_nth = 5};
    for (std::uint64_t n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(RefusesDatagram(plan, n), n == 3);
        EXPECT_EQ(PlanReplies(plan, n, ACK).datagrams.empty(), n == 5);
    }
    EXPECT_FALSE(RefusesDatagram(FaultPlan{}, 0));
}

TEST(FaultPlan, DelaysEveryReplyButNotAMissingOne) {
    const FaultPlan plan{.drop_reply_nth = 2, .reply_delay = 250ms};
    EXPECT_EQ(PlanReplies(plan, 1, ACK).delay, 250ms);
    EXPECT_EQ(PlanReplies(plan, 3, REFUSAL).delay, 250ms);
    EXPECT_TRUE(PlanReplies(plan, 2, ACK).datagrams.empty());
}

TEST(FaultPlan, DuplicatesAcknowledgementsOnly) {
    const FaultPlan plan{.duplicate_acks = true};
    EXPECT_EQ(PlanReplies(plan, 1, ACK).datagrams, (std::vector<Bytes>{ACK, ACK}));
    EXPECT_EQ(PlanReplies(plan, 1, REFUSAL).datagrams, std::vector<Bytes>{REFUSAL});
}

TEST(FaultPlan, GarbageComesFirstAndAReceiverDropsItWithoutEffect) {
    const FaultPlan plan{.duplicate_acks = true, .garbage_before_reply = true};
    const auto out = PlanReplies(plan, 1, ACK);
    ASSERT_EQ(out.datagrams.size(), 5u);
    EXPECT_EQ(out.datagrams[0], (Bytes{PKT_DATA, 0x01, 0x02}));
    EXPECT_EQ(out.datagrams[1], (Bytes{0x10, 0x01, 0x02, REPLY_ACK}));
    EXPECT_EQ(out.datagrams[2].size(), GARBAGE_OVERSIZED_SIZE);
    EXPECT_GT(out.datagrams[2].size(), 5200u);
    EXPECT_EQ(out.datagrams[3], ACK);
    EXPECT_EQ(out.datagrams[4], ACK);
    // The short and the unknown one have no effect on the system...
    EXPECT_EQ(DecideReplyEffects(out.datagrams[0]), ReplyEffects{});
    EXPECT_EQ(DecideReplyEffects(out.datagrams[1]), ReplyEffects{});
    // ...while the oversized one would acknowledge if it were cut to the buffer.
    EXPECT_TRUE(DecideReplyEffects(std::span(out.datagrams[2]).first(5200)).set_ack);
}

}  // namespace
}  // namespace korvane::devsim
