#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace korvane {

enum class DownloadResult {
    Succeeded,       // every datagram acknowledged
    TimedOut,        // no acknowledgement within the wait
    Refused,         // the device refused (its wait then ran out)
    Aborted,         // the front end asked to stop (AbortFlag) before the next datagram
    Cancelled,       // the close request / Ctrl-C woke the waiting sender
    EndpointFailed,  // the UDP endpoint could not be opened; nothing was sent
    SendFailed,      // the system would not send a datagram (no route, a refused broadcast)
    Abandoned,       // the front end let the job go; nothing was reported
};

// How one download ended, for the front end to show in detail.
struct DownloadOutcome {
    DownloadResult result = DownloadResult::Abandoned;
    std::size_t datagrams = 0;     // N
    std::size_t acknowledged = 0;  // datagrams whose wait ended by an acknowledgement
    // The datagram (0-based index in the queue, and its sequence value) whose
    // wait or check ended a failed job; meaningless on success.
    std::size_t failed_index = 0;
    std::uint16_t failed_sequence = 0;
    double seconds = 0;     // from the start of the job's thread to its result
    std::error_code error;  // the system's reason, for EndpointFailed and SendFailed

    [[nodiscard]] bool Succeeded() const noexcept { return result == DownloadResult::Succeeded; }
};

// Why a job failed, in the operator's words ("timed out waiting for datagram
// 3 (sequence 3)", "refused by the device at datagram 0 (sequence 0)",
// "could not send: Network is unreachable", ...); empty on success.
[[nodiscard]] std::string DescribeFailure(const DownloadOutcome& outcome);

}  // namespace korvane
