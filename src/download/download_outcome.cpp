#include "download/download_outcome.hpp"

#include "base/messages.hpp"

namespace korvane {
namespace {

std::string Datagram(const DownloadOutcome& outcome) {
    return "datagram " + std::to_string(outcome.failed_index) + " (sequence " +
           std::to_string(outcome.failed_sequence) + ")";
}

}  // namespace

std::string DescribeFailure(const DownloadOutcome& outcome) {
    switch (outcome.result) {
        case DownloadResult::Succeeded:
            return {};
        case DownloadResult::TimedOut:
            return "timed out waiting for " + Datagram(outcome);
        case DownloadResult::Refused:
            return "refused by the device at " + Datagram(outcome);
        case DownloadResult::Aborted:
            return "stopped on request before " + Datagram(outcome);
        case DownloadResult::Cancelled:
            return "cancelled at " + Datagram(outcome);
        case DownloadResult::EndpointFailed:
            return std::string(messages::UDP_INIT_FAILED) +
                   (outcome.error ? ": " + outcome.error.message() : "");
        case DownloadResult::SendFailed:
            return "could not send: " + outcome.error.message();
        case DownloadResult::Abandoned:
            return "abandoned";
    }
    return "unknown";
}

}  // namespace korvane
