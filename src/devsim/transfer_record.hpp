#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "link/protocol.hpp"

namespace korvane::devsim {

// How a transfer ended.
enum class TransferVerdict {
    Ok,           // length and MD5 matched the header; the image was kept
    Mismatch,     // length or MD5 differed from the header, or a chunk came out of
                  // sequence or past the declared length; refused
    WriteFailed,  // it matched, but the image could not be written; refused
};

[[nodiscard]] std::string_view VerdictText(TransferVerdict verdict) noexcept;

// One transfer, judged at its end datagram or ended early by a refused
// chunk. A plain value.
struct TransferRecord {
    std::uint32_t length = 0;         // as the header declared it
    Digest md5{};                     // MD5 of the bytes received
    std::filesystem::path path;       // out_dir/<md5>.bin when written
    std::vector<std::uint8_t> image;  // what arrived, when not written to a file as it came

    std::uint64_t received_length = 0;  // bytes received and kept
    Digest declared_md5{};              // as the header declared it
    TransferVerdict verdict = TransferVerdict::Mismatch;
    std::string write_error;  // why the image could not be written (WriteFailed)
    // Data and end datagrams that came while the one before them was unanswered.
    std::uint64_t overtaken = 0;
};

}  // namespace korvane::devsim
