#pragma once

#include <string>
#include <string_view>

namespace korvane {

// `text` as a JSON string literal, quotes included, that is valid JSON in
// valid UTF-8 whatever bytes `text` holds (file names and addresses come
// from the operator and need not be UTF-8):
// - valid UTF-8 passes through unchanged;
// - quotes, backslashes and control characters below 0x20 are escaped;
// - each byte that is not part of a valid UTF-8 sequence (a stray
//   continuation byte, an overlong form, an encoded surrogate, a truncated
//   sequence, 0xF5 and above) becomes the escape \udcXX, XX being the byte in
//   lowercase hex. This is Python's "surrogateescape" convention, so
//   os.fsencode(json.loads(literal)) gives the original bytes back.
[[nodiscard]] std::string JsonString(std::string_view text);

}  // namespace korvane
