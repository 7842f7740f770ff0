#pragma once

#include <string>

#include "devsim/transfer_record.hpp"

namespace korvane::devsim {

// The one-line JSON report of a finished transfer, without the line feed:
//   {"length":N,"md5":"<32 hex>","verdict":"ok"|"mismatch"|"write-failed","path":"..."}
// length and md5 describe the bytes received; path is "" unless the image was
// written.
[[nodiscard]] std::string TransferJsonLine(const TransferRecord& record);

}  // namespace korvane::devsim
