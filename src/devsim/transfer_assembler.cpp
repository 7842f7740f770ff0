#include "devsim/transfer_assembler.hpp"

#include <cassert>
#include <utility>

namespace korvane::devsim {

std::string_view VerdictText(TransferVerdict verdict) noexcept {
    switch (verdict) {
        case TransferVerdict::Ok:
            return "ok";
        case TransferVerdict::Mismatch:
            return "mismatch";
        case TransferVerdict::WriteFailed:
            return "write-failed";
    }
    return "mismatch";
}

void TransferAssembler::Begin(std::uint16_t sequence, std::uint32_t length, const Digest& md5) {
    assert(accepted_.empty());
    record_ = TransferRecord{.length = length, .declared_md5 = md5};
    next_sequence_ = static_cast<std::uint16_t>(sequence + 1);
    md5_.Init();
    // An unfinished transfer's file goes.
    file_ = out_dir_.empty() ? nullptr : std::make_unique<PendingImage>(out_dir_);
    in_progress_ = true;
}

ChunkOutcome TransferAssembler::Append(std::uint16_t sequence,
                                       std::span<const std::uint8_t> payload) {
    assert(accepted_.empty());
    if (!in_progress_) {
        return {};
    }
    if (sequence != next_sequence_ || payload.size() > record_.length - record_.received_length) {
        return {.ended = Close(true)};
    }
    ++next_sequence_;
    record_.received_length += payload.size();
    accepted_ = payload;
    return {.accepted = true};
}

void TransferAssembler::Complete() {
    if (accepted_.empty()) {
        return;
    }
    md5_.Update(accepted_);
    if (file_) {
        file_->Write(accepted_);
    } else {
        record_.image.insert(record_.image.end(), accepted_.begin(), accepted_.end());
    }
    accepted_ = {};
}

std::optional<TransferRecord> TransferAssembler::Finish() {
    assert(accepted_.empty());
    if (!in_progress_) {
        return std::nullopt;
    }
    return Close(false);
}

TransferRecord TransferAssembler::Close(bool refused) {
    in_progress_ = false;
    TransferRecord record = std::exchange(record_, TransferRecord{});
    md5_.Final(record.md5);
    // The system sends an empty file with an all-zero digest field rather than
    // the MD5 of no bytes; both stand for an empty image.
    const bool digest_matches = record.md5 == record.declared_md5 ||
                                (record.received_length == 0 && record.declared_md5 == Digest{});
    const bool ok = !refused && record.received_length == record.length && digest_matches;
    record.verdict = ok ? TransferVerdict::Ok : TransferVerdict::Mismatch;
    const std::unique_ptr<PendingImage> file = std::move(file_);  // removed unless kept
    if (ok && file) {
        record.path = file->Keep(record.md5);
        if (record.path.empty()) {
            record.verdict = TransferVerdict::WriteFailed;
            record.write_error = file->Error();
        }
    }
    return record;
}

}  // namespace korvane::devsim
