// libFuzzer target: the reply rules never fault, and every datagram has the
// effects that the rule table gives it. The oracle below is written from the
// table alone, with its own constants and byte arithmetic.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "link/reply_rules.hpp"

namespace {

constexpr unsigned PACKET_ACKED = 1132;  // WM_USER + 108
constexpr unsigned MACHINE_CODE = 1124;  // WM_USER + 100

korvane::ReplyEffects Expected(std::span<const std::uint8_t> reply) {
    korvane::ReplyEffects effects;
    if (reply.size() < 4) {
        return effects;
    }
    const bool acknowledged = reply[3] == 6;
    // Bytes past the end count as zero.
    const auto at = [&reply](std::size_t i) -> std::uint32_t {
        return i < reply.size() ? reply[i] : 0;
    };
    switch (reply[0]) {
        case 0x11:
        case 0x12:
        case 0x13:
            if (acknowledged) {
                effects.post = korvane::Notification{.code = PACKET_ACKED, .first = 0, .second = 0};
                effects.set_ack = true;
            } else {
                effects.set_abort = true;
            }
            break;
        case 0x43:
            effects.set_ack = acknowledged;
            effects.set_abort = !acknowledged;
            break;
        case 0x81: {
            effects.set_ack = true;
            const std::uint32_t declared = at(4) * 256 + at(5);
            if (acknowledged && declared >= 1 && declared <= reply.size()) {
                effects.post = korvane::Notification{
                    .code = MACHINE_CODE,
                    .first = at(6) | at(7) << 8 | at(8) << 16 | at(9) << 24,
                    .second = at(10) | at(11) << 8 | at(12) << 16 | at(13) << 24,
                };
            }
            break;
        }
        default:
            break;
    }
    return effects;
}

void Print(const char* what, const korvane::ReplyEffects& effects) {
    std::fprintf(stderr, "%s: post=%u (%08x %08x) ack=%d abort=%d\n", what,
                 effects.post ? effects.post->code : 0U, effects.post ? effects.post->first : 0U,
                 effects.post ? effects.post->second : 0U, effects.set_ack, effects.set_abort);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> reply(data, size);
    const korvane::ReplyEffects actual = korvane::DecideReplyEffects(reply);
    const korvane::ReplyEffects expected = Expected(reply);
    if (!(actual == expected)) {
        Print("decided", actual);
        Print("expected", expected);
        std::abort();
    }
    return 0;
}
