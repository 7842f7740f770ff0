#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "devsim/chunk_hasher.hpp"
#include "devsim/transfer_record.hpp"
#include "link/protocol.hpp"

namespace korvane::devsim {

// What became of one data chunk.
struct ChunkOutcome {
    bool accepted = false;                // appended to the transfer in progress
    std::optional<TransferRecord> ended;  // the transfer this refused chunk ended (Mismatch)
};

// Puts one firmware transfer back together the way the device sees it: a
// header starts a transfer (and discards any unfinished one), data chunks are
// appended in order, the end datagram finishes it and judges it against the
// header. A chunk out of sequence (header k: data k+1, k+2 ... mod 2^16) or
// one that would go past the declared length ends the transfer as a
// mismatch: the device cannot put the file together any more. The end
// datagram's own sequence is only recorded. No I/O; one thread at a time (the
// MD5 runs on the ChunkHasher's thread, and Finish waits for it).
class TransferAssembler {
public:
    void Begin(std::uint16_t sequence, std::uint32_t length, const Digest& md5);

    // Not accepted and nothing ended when no transfer is in progress.
    [[nodiscard]] ChunkOutcome Append(std::uint16_t sequence,
                                      std::span<const std::uint8_t> payload);

    // Finishes the transfer with verdict Ok or Mismatch; nothing when none is
    // in progress. The record has no path: keeping the image is the caller's.
    [[nodiscard]] std::optional<TransferRecord> Finish(std::uint16_t sequence);

    [[nodiscard]] bool InProgress() const noexcept { return in_progress_; }

private:
    // Ends the transfer in progress and judges it; a refused one is a Mismatch.
    [[nodiscard]] TransferRecord Close(bool refused);

    bool in_progress_ = false;
    std::uint16_t next_sequence_ = 0;
    ChunkHasher hasher_;  // the MD5 of the image, on a thread of its own
    TransferRecord record_;
};

// True when `sequences` run 0, 1, 2 ... with the 16-bit wrap-around.
[[nodiscard]] bool SequencesInOrder(std::span<const std::uint16_t> sequences) noexcept;

}  // namespace korvane::devsim
