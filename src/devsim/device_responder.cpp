#include "devsim/device_responder.hpp"

#include <algorithm>
#include <utility>

#include "devsim/fault_plan.hpp"
#include "link/byte_order.hpp"

namespace korvane::devsim {
namespace {

// Where a header's file length ends: shorter headers cannot be understood.
constexpr std::size_t HEADER_MIN_SIZE = HEADER_DIGEST_OFFSET + DIGEST_SIZE;

std::uint16_t SequenceOf(std::span<const std::uint8_t> request) {
    return request.size() >= 3 ? bytes::GetU16BE(request.subspan<1, 2>()) : 0;
}

ReplyDatagram Reply(std::span<const std::uint8_t> request, std::uint8_t status) {
    return {request[0], request.size() > 1 ? request[1] : std::uint8_t{0},
            request.size() > 2 ? request[2] : std::uint8_t{0}, status};
}

Response Answer(std::span<const std::uint8_t> request, bool acknowledged) {
    return Response{.reply = Reply(request, acknowledged ? REPLY_ACK : REPLY_REFUSED)};
}

}  // namespace

DeviceResponder::DeviceResponder(const MachineCode& machine_code, std::filesystem::path out_dir)
    : machine_code_(machine_code), assembler_(std::move(out_dir)) {}

Response DeviceResponder::Respond(std::span<const std::uint8_t> request, bool refuse) {
    Response response = ReplyFirst(request, refuse);
    Complete();
    return response;
}

Response DeviceResponder::ReplyFirst(std::span<const std::uint8_t> request, bool refuse) {
    if (request.empty()) {
        return {};
    }
    switch (request[0]) {
        case PKT_HEADER:
            return OnHeader(request, refuse);
        case PKT_DATA:
            return OnData(request, refuse);
        case PKT_END:
            return OnEnd(request, refuse);
        case PKT_RESTORE_IP:
            return Answer(request, !refuse);
        case PKT_GET_MACHINE_CODE: {
            if (refuse) {
                return Answer(request, false);
            }
            Response response = Answer(request, true);
            const std::uint16_t declared = MACHINE_CODE_OFFSET + MACHINE_CODE_SIZE;
            response.reply->Append(
                {static_cast<std::uint8_t>(declared >> 8), static_cast<std::uint8_t>(declared)});
            response.reply->Append(machine_code_);
            return response;
        }
        default:
            return {};
    }
}

Response DeviceResponder::OnHeader(std::span<const std::uint8_t> request, bool refuse) {
    if (refuse || request.size() < HEADER_MIN_SIZE) {
        return Answer(request, false);
    }
    Digest md5{};
    std::ranges::copy(request.subspan(HEADER_DIGEST_OFFSET, DIGEST_SIZE), md5.begin());
    assembler_.Begin(SequenceOf(request), bytes::GetU32BE(request.subspan<3, 4>()), md5);
    return Answer(request, true);
}

Response DeviceResponder::OnData(std::span<const std::uint8_t> request, bool refuse) {
    if (refuse || request.size() < DATA_PREFIX_SIZE) {
        return Answer(request, false);
    }
    const std::size_t declared = bytes::GetU16BE(request.subspan<3, 2>());
    const auto payload = request.subspan(DATA_PREFIX_SIZE);
    if (declared != payload.size()) {
        return Answer(request, false);
    }
    ChunkOutcome outcome = assembler_.Append(SequenceOf(request), payload);
    Response response = Answer(request, outcome.accepted);
    response.finished = std::move(outcome.ended);
    return response;
}

Response DeviceResponder::OnEnd(std::span<const std::uint8_t> request, bool refuse) {
    if (refuse || request.size() < 3) {
        return Answer(request, false);
    }
    auto record = assembler_.Finish();
    if (!record) {
        return Answer(request, false);
    }
    Response response = Answer(request, record->verdict == TransferVerdict::Ok);
    response.finished = std::move(record);
    return response;
}

}  // namespace korvane::devsim
