#include "devsim/transfer_assembler.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "download/md5_context.hpp"

namespace korvane::devsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TransferAssembler, ReassemblesChunksInArrivalOrderAndJudgesThemAtTheEnd) {
    const Bytes file{'a', 'b', 'c', 'd', 'e'};
    TransferAssembler assembler;
    assembler.Begin(0, 5, Md5Context::Of(file));
    EXPECT_TRUE(assembler.Append(1, Bytes{'a', 'b'}));
    EXPECT_TRUE(assembler.Append(2, Bytes{'c', 'd', 'e'}));
    const auto record = assembler.Finish(3);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->image, file);
    EXPECT_EQ(record->length, 5u);
    EXPECT_EQ(record->received_length, 5u);
    EXPECT_EQ(record->md5, Md5Context::Of(file));
    EXPECT_TRUE(record->ok);
    EXPECT_EQ(record->verdict, TransferVerdict::Ok);
    EXPECT_EQ(record->sequences, (std::vector<std::uint16_t>{0, 1, 2, 3}));
    EXPECT_TRUE(record->sequences_in_order);
    EXPECT_FALSE(assembler.InProgress());
}

struct MismatchCase {
    const char* name;
    std::uint32_t declared_length;
    bool wrong_digest;
};

TEST(TransferAssembler, RefusesWhatDiffersFromTheHeader) {
    const Bytes file{1, 2, 3};
    const std::vector<MismatchCase> cases = {
        {"short", 4, false},
        {"long", 2, false},
        {"digest", 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Digest digest = Md5Context::Of(file);
        if (c.wrong_digest) {
            digest[15] ^= 1;
        }
        TransferAssembler assembler;
        assembler.Begin(0, c.declared_length, digest);
        ASSERT_TRUE(assembler.Append(1, file));
        const auto record = assembler.Finish(2);
        ASSERT_TRUE(record.has_value());
        EXPECT_FALSE(record->ok);
        EXPECT_EQ(record->verdict, TransferVerdict::Mismatch);
        EXPECT_EQ(record->md5, Md5Context::Of(file)) << "the digest of what arrived";
        EXPECT_EQ(record->received_length, 3u);
        EXPECT_EQ(record->declared_md5, digest);
    }
}

TEST(TransferAssembler, AcceptsAnEmptyImageWithTheZeroDigestOrItsRealMd5) {
    for (const Digest& declared : {Digest{}, Md5Context::Of(Bytes{})}) {
        TransferAssembler assembler;
        assembler.Begin(0, 0, declared);
        const auto record = assembler.Finish(1);
        ASSERT_TRUE(record.has_value());
        EXPECT_TRUE(record->ok);
        EXPECT_TRUE(record->image.empty());
        EXPECT_EQ(record->md5, Md5Context::Of(Bytes{}));
    }
}

TEST(TransferAssembler, ANewHeaderDiscardsTheUnfinishedTransfer) {
    const Bytes file{7, 8};
    TransferAssembler assembler;
    assembler.Begin(0, 100, Digest{});
    ASSERT_TRUE(assembler.Append(1, Bytes{9, 9, 9}));
    assembler.Begin(0, 2, Md5Context::Of(file));
    ASSERT_TRUE(assembler.Append(1, file));
    const auto record = assembler.Finish(2);
    ASSERT_TRUE(record.has_value());
    EXPECT_TRUE(record->ok);
    EXPECT_EQ(record->image, file);
    EXPECT_EQ(record->sequences, (std::vector<std::uint16_t>{0, 1, 2}));
}

TEST(TransferAssembler, TakesNothingWithoutAHeader) {
    TransferAssembler assembler;
    EXPECT_FALSE(assembler.Append(1, Bytes{1}));
    EXPECT_FALSE(assembler.Finish(2).has_value());
    assembler.Begin(0, 0, Digest{});
    ASSERT_TRUE(assembler.Finish(1).has_value());
    EXPECT_FALSE(assembler.Append(2, Bytes{1})) << "the transfer has ended";
    EXPECT_FALSE(assembler.Finish(3).has_value());
}

TEST(TransferAssembler, KeepsRepeatedAndMissingSequencesInTheRecord) {
    const Bytes chunk{5};
    TransferAssembler assembler;
    assembler.Begin(0, 2, Md5Context::Of(Bytes{5, 5}));
    ASSERT_TRUE(assembler.Append(1, chunk));
    ASSERT_TRUE(assembler.Append(1, chunk));  // a repeat is appended again
    const auto record = assembler.Finish(2);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->sequences, (std::vector<std::uint16_t>{0, 1, 1, 2}));
    EXPECT_FALSE(record->sequences_in_order);
    EXPECT_TRUE(record->ok) << "the bytes are what the header said";
}

TEST(TransferAssembler, SequencesInOrderFollowTheWrapAround) {
    std::vector<std::uint16_t> sequences;
    for (std::uint32_t i = 0; i < 65538; ++i) {
        sequences.push_back(static_cast<std::uint16_t>(i));
    }
    EXPECT_TRUE(SequencesInOrder(sequences));
    sequences.back() = 2;
    EXPECT_FALSE(SequencesInOrder(sequences));
    EXPECT_FALSE(SequencesInOrder(std::vector<std::uint16_t>{1, 2}));
    EXPECT_FALSE(SequencesInOrder(std::vector<std::uint16_t>{0, 2}));
}

}  // namespace
}  // namespace korvane::devsim
