#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "devsim/transfer_record.hpp"
#include "link/protocol.hpp"

namespace korvane::devsim {

// Puts one firmware transfer back together the way the device sees it: a
// header starts a transfer (and discards any unfinished one), data chunks are
// appended in the order they arrive, the end datagram finishes it and judges
// it against the header. Every sequence number is kept, so repeats and gaps
// show in the record. Pure: no I/O; one thread at a time.
class TransferAssembler {
public:
    void Begin(std::uint16_t sequence, std::uint32_t length, const Digest& md5);

    // Appends a chunk; false (nothing kept) when no transfer is in progress.
    [[nodiscard]] bool Append(std::uint16_t sequence, std::span<const std::uint8_t> payload);

    // Finishes the transfer with verdict Ok or Mismatch; nothing when none is
    // in progress. The record has no path: keeping the image is the caller's.
    [[nodiscard]] std::optional<TransferRecord> Finish(std::uint16_t sequence);

    [[nodiscard]] bool InProgress() const noexcept { return in_progress_; }

private:
    bool in_progress_ = false;
    TransferRecord record_;
};

// True when `sequences` run 0, 1, 2 ... with the 16-bit wrap-around.
[[nodiscard]] bool SequencesInOrder(std::span<const std::uint16_t> sequences) noexcept;

}  // namespace korvane::devsim
