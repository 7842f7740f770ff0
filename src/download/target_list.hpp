#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The device addresses of a targets file: one per line; from '#' to the end
// of a line is a comment; white space around an address and blank lines are
// ignored. The addresses are returned as written, unchecked, in file order.
[[nodiscard]] std::vector<std::string> ParseTargetList(std::string_view text);

}  // namespace korvane
