#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "devsim/reply_datagram.hpp"
#include "devsim/transfer_assembler.hpp"
#include "devsim/transfer_record.hpp"
#include "link/protocol.hpp"

namespace korvane::devsim {

using MachineCode = std::array<std::uint8_t, MACHINE_CODE_SIZE>;

// The device's answer to one request.
struct Response {
    std::optional<ReplyDatagram> reply;      // nothing: not answered
    std::optional<TransferRecord> finished;  // set when the request ended a transfer
};

// What the simulated device does with each request, byte by byte; the socket
// and the faults are elsewhere. Every reply is `code, seq-hi, seq-lo, status`
// with the request's own code and sequence bytes; status 6 acknowledges,
// 0x15 refuses.
//
//   header (0x11)  starts a new transfer, discarding an unfinished one
//   data (0x12)    appended in order; refused when no transfer is in
//                  progress (there is nothing to append it to) or when its
//                  length field does not match its size. Refused, and the
//                  transfer ended as a mismatch, when its sequence is not the
//                  next one or it goes past the header's declared length
//   end (0x13)     checks length and MD5 against the header; a good image is
//                  written to out_dir/<md5>.bin; refused on a mismatch, when
//                  writing fails, or when no transfer is in progress
//   restore (0x43) acknowledged
//   machine code (0x81)  81 00 00 06 00 0E and the 8 machine-code bytes
//   anything else, and empty datagrams: not answered
//
// A refused request (`refuse` set by the fault plan) changes nothing.
// Owned by the simulator's service thread; not thread-safe.
class DeviceResponder {
public:
    // An empty `out_dir` keeps images in memory only.
    DeviceResponder(const MachineCode& machine_code, std::filesystem::path out_dir);

    // The answer to `request`, with everything the request does done.
    [[nodiscard]] Response Respond(std::span<const std::uint8_t> request, bool refuse);

    // The same answer, but the MD5 and file write of an accepted data chunk
    // are left to Complete(), so that the reply can go out before that work.
    // The request's bytes must stay as they are until Complete(), and
    // Complete() must come before the next request.
    [[nodiscard]] Response ReplyFirst(std::span<const std::uint8_t> request, bool refuse);
    void Complete() { assembler_.Complete(); }

private:
    [[nodiscard]] Response OnHeader(std::span<const std::uint8_t> request, bool refuse);
    [[nodiscard]] Response OnData(std::span<const std::uint8_t> request, bool refuse);
    [[nodiscard]] Response OnEnd(std::span<const std::uint8_t> request, bool refuse);

    MachineCode machine_code_;
    TransferAssembler assembler_;
};

}  // namespace korvane::devsim
