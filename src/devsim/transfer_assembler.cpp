#include "devsim/transfer_assembler.hpp"

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
    record_ = TransferRecord{.length = length, .declared_md5 = md5};
    next_sequence_ = static_cast<std::uint16_t>(sequence + 1);
    auto file = out_dir_.empty() ? nullptr : std::make_unique<PendingImage>(out_dir_);
    sink_.Restart(file.get());
    file_ = std::move(file);  // an unfinished transfer's file goes
    in_progress_ = true;
}

ChunkOutcome TransferAssembler::Append(std::uint16_t sequence,
                                       std::span<const std::uint8_t> payload) {
    if (!in_progress_) {
        return {};
    }
    if (sequence != next_sequence_ || payload.size() > record_.length - record_.received_length) {
        return {.ended = Close(true)};
    }
    ++next_sequence_;
    record_.received_length += payload.size();
    if (!file_) {
        record_.image.insert(record_.image.end(), payload.begin(), payload.end());
    }
    sink_.Add(payload);
    return {.accepted = true};
}

std::optional<TransferRecord> TransferAssembler::Finish() {
    if (!in_progress_) {
        return std::nullopt;
    }
    return Close(false);
}

TransferRecord TransferAssembler::Close(bool refused) {
    in_progress_ = false;
    TransferRecord record = std::exchange(record_, TransferRecord{});
    record.md5 = sink_.Finish();
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
