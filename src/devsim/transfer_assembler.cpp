#include "devsim/transfer_assembler.hpp"

#include <utility>

#include "download/md5_context.hpp"

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

bool SequencesInOrder(std::span<const std::uint16_t> sequences) noexcept {
    std::uint16_t expected = 0;
    for (const std::uint16_t sequence : sequences) {
        if (sequence != expected) {
            return false;
        }
        ++expected;
    }
    return true;
}

void TransferAssembler::Begin(std::uint16_t sequence, std::uint32_t length, const Digest& md5) {
    record_ = TransferRecord{.length = length, .declared_md5 = md5};
    record_.sequences.push_back(sequence);
    in_progress_ = true;
}

bool TransferAssembler::Append(std::uint16_t sequence, std::span<const std::uint8_t> payload) {
    if (!in_progress_) {
        return false;
    }
    record_.sequences.push_back(sequence);
    record_.image.insert(record_.image.end(), payload.begin(), payload.end());
    return true;
}

std::optional<TransferRecord> TransferAssembler::Finish(std::uint16_t sequence) {
    if (!in_progress_) {
        return std::nullopt;
    }
    in_progress_ = false;
    TransferRecord record = std::exchange(record_, TransferRecord{});
    record.sequences.push_back(sequence);
    record.sequences_in_order = SequencesInOrder(record.sequences);
    record.received_length = record.image.size();
    record.md5 = Md5Context::Of(record.image);
    // The system sends an empty file with an all-zero digest field rather than
    // the MD5 of no bytes; both stand for an empty image.
    const bool digest_matches = record.md5 == record.declared_md5 ||
                                (record.image.empty() && record.declared_md5 == Digest{});
    const bool ok = record.image.size() == record.length && digest_matches;
    record.verdict = ok ? TransferVerdict::Ok : TransferVerdict::Mismatch;
    record.ok = ok;
    return record;
}

}  // namespace korvane::devsim
