#include "devsim/transfer_json.hpp"

#include <cstdio>

#include "base/hex.hpp"

namespace korvane::devsim {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += escaped;
                } else {
                    out += c;  // UTF-8 passes through as it is
                }
        }
    }
    out += '"';
    return out;
}

std::string TransferJsonLine(const TransferRecord& record) {
    return "{\"length\":" + std::to_string(record.received_length) +
           ",\"md5\":" + JsonString(ToHex(record.md5)) +
           ",\"verdict\":" + JsonString(VerdictText(record.verdict)) +
           ",\"path\":" + JsonString(record.path.string()) + "}";
}

}  // namespace korvane::devsim
