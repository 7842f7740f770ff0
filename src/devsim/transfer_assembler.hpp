#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "devsim/chunk_sink.hpp"
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
// datagram's own sequence is not looked at. With an out_dir a good image is
// kept as out_dir/<md5>.bin (written while it arrives, see ChunkSink; one that
// cannot be written is refused at its end as WriteFailed), else in the record.
// One thread at a time.
class TransferAssembler {
public:
    // An empty `out_dir` keeps images in memory only.
    explicit TransferAssembler(std::filesystem::path out_dir = {}) : out_dir_(std::move(out_dir)) {}

    void Begin(std::uint16_t sequence, std::uint32_t length, const Digest& md5);

    // Not accepted and nothing ended when no transfer is in progress.
    [[nodiscard]] ChunkOutcome Append(std::uint16_t sequence,
                                      std::span<const std::uint8_t> payload);

    // Finishes the transfer with verdict Ok, Mismatch or WriteFailed; nothing
    // when none is in progress.
    [[nodiscard]] std::optional<TransferRecord> Finish();

private:
    // Ends the transfer in progress and judges it; a refused one is a Mismatch.
    [[nodiscard]] TransferRecord Close(bool refused);

    const std::filesystem::path out_dir_;
    bool in_progress_ = false;
    std::uint16_t next_sequence_ = 0;
    std::unique_ptr<PendingImage> file_;  // of the transfer in progress, with out_dir_
    ChunkSink sink_;                      // declared after file_: stops writing to it first
    TransferRecord record_;
};

}  // namespace korvane::devsim
