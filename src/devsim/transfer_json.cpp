#include "devsim/transfer_json.hpp"

#include "base/hex.hpp"
#include "frontend/json_text.hpp"

namespace korvane::devsim {

std::string TransferJsonLine(const TransferRecord& record) {
    return "{\"length\":" + std::to_string(record.received_length) +
           ",\"md5\":" + JsonString(ToHex(record.md5)) +
           ",\"verdict\":" + JsonString(VerdictText(record.verdict)) +
           ",\"path\":" + JsonString(record.path.string()) +
           ",\"overtaken\":" + std::to_string(record.overtaken) + "}";
}

}  // namespace korvane::devsim
