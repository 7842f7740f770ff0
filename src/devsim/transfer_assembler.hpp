#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "devsim/image_store.hpp"
#include "devsim/transfer_record.hpp"
#include "download/md5_context.hpp"
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
// kept as out_dir/<md5>.bin (written while it arrives into a PendingImage;
// one that cannot be written is refused at its end as WriteFailed), else in
// the record. An accepted chunk is digested and stored by Complete(), from
// the caller's bytes (no copy on the way), so that the caller can answer
// first. Owns the MD5 and the file of the transfer in progress. One thread at
// a time.
class TransferAssembler {
public:
    // An empty `out_dir` keeps images in memory only.
    explicit TransferAssembler(std::filesystem::path out_dir = {}) : out_dir_(std::move(out_dir)) {}

    void Begin(std::uint16_t sequence, std::uint32_t length, const Digest& md5);

    // Not accepted and nothing ended when no transfer is in progress. An
    // accepted `payload` is referred to until Complete(), which must come
    // before the next call.
    [[nodiscard]] ChunkOutcome Append(std::uint16_t sequence,
                                      std::span<const std::uint8_t> payload);
    // Digests and stores the chunk Append accepted last, if any.
    void Complete();

    // Finishes the transfer with verdict Ok, Mismatch or WriteFailed; nothing
    // when none is in progress.
    [[nodiscard]] std::optional<TransferRecord> Finish();

private:
    // Ends the transfer in progress and judges it; a refused one is a Mismatch.
    [[nodiscard]] TransferRecord Close(bool refused);

    const std::filesystem::path out_dir_;
    bool in_progress_ = false;
    std::uint16_t next_sequence_ = 0;
    Md5Context md5_;                          // of the chunks completed since Begin
    std::unique_ptr<PendingImage> file_;      // of the transfer in progress, with out_dir_
    std::span<const std::uint8_t> accepted_;  // by Append, for Complete; the caller's bytes
    TransferRecord record_;
};

}  // namespace korvane::devsim
