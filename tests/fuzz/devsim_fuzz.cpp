// libFuzzer target: the simulated device, fed any sequence of datagrams, never
// faults; every reply is at least four bytes and repeats the request's code;
// and a transfer it judges ok is exactly what the header declared. The image
// is tracked here from the device's own replies: the payloads of the
// acknowledged data datagrams since the last acknowledged header.
//
// Input: records of [flags][length hi][length lo][length bytes]; flags bit 0
// makes the fault plan refuse that datagram. A short last record takes what is
// left.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "devsim/device_responder.hpp"
#include "download/md5_context.hpp"

namespace {

void Fail(const char* why) {
    std::fprintf(stderr, "devsim fuzz: %s\n", why);
    std::abort();
}

// What the last acknowledged header declared, and what has been acknowledged since.
struct Model {
    bool open = false;
    std::uint32_t length = 0;
    korvane::Digest md5{};
    std::vector<std::uint8_t> image;
};

std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (const std::uint8_t b : bytes) {
        value = value << 8 | b;
    }
    return value;
}

void CheckOk(const Model& model, const korvane::devsim::TransferRecord& record) {
    if (!model.open) {
        Fail("a transfer judged ok without an acknowledged header");
    }
    if (model.image.size() != model.length || record.length != model.length) {
        Fail("a transfer judged ok with a length other than the declared one");
    }
    const bool zero_digest_for_empty = model.image.empty() && model.md5 == korvane::Digest{};
    if (korvane::Md5Context::Of(model.image) != model.md5 && !zero_digest_for_empty) {
        Fail("a transfer judged ok with an MD5 other than the declared one");
    }
    if (record.image != model.image) {
        Fail("the image kept differs from the acknowledged payloads");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korvane::devsim::DeviceResponder device({1, 2, 3, 4, 5, 6, 7, 8}, {});
    Model model;
    std::span<const std::uint8_t> input(data, size);
    while (!input.empty()) {
        const bool refuse = (input[0] & 1) != 0;
        const std::size_t wanted = input.size() >= 3 ? BigEndian(input.subspan(1, 2)) : 0;
        input = input.subspan(std::min<std::size_t>(3, input.size()));
        const auto request = input.first(std::min(wanted, input.size()));
        input = input.subspan(request.size());

        const korvane::devsim::Response response = device.Respond(request, refuse);
        const auto reply =
            response.reply ? response.reply->Bytes() : std::span<const std::uint8_t>();
        const bool acknowledged = reply.size() >= 4 && reply[3] == korvane::REPLY_ACK;
        if (response.reply && (reply.size() < 4 || request.empty() || reply[0] != request[0])) {
            Fail("a reply shorter than four bytes or with another code");
        }
        if (response.finished) {
            if (response.finished->verdict == korvane::devsim::TransferVerdict::Ok) {
                CheckOk(model, *response.finished);
                if (!acknowledged || request[0] != korvane::PKT_END) {
                    Fail("a good transfer not acknowledged at its end datagram");
                }
            }
            model.open = false;
        }
        if (!acknowledged) {
            continue;
        }
        if (request[0] == korvane::PKT_HEADER) {
            if (request.size() < 23) {
                Fail("a header too short for its length and digest acknowledged");
            }
            model = Model{};
            model.open = true;
            model.length = BigEndian(request.subspan(3, 4));
            std::copy_n(request.begin() + 7, model.md5.size(), model.md5.begin());
        } else if (request[0] == korvane::PKT_DATA) {
            if (request.size() < 5 || !model.open) {
                Fail("data acknowledged without its prefix or outside a transfer");
            }
            model.image.insert(model.image.end(), request.begin() + 5, request.end());
        }
    }
    return 0;
}
