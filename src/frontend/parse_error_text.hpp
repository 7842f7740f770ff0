#pragma once

#include <string>
#include <vector>

namespace korvane {

// What the command-line parser (CLI11) reported for a command line it
// refused, gathered by the program's main.
struct ParseFailure {
    std::string kind;     // the parser's error class: "ExtrasError", "ArgumentMismatch" ...
    std::string message;  // the parser's own text
    // Words it could not place, in the order typed.
    std::vector<std::string> leftovers = {};
    // The subcommands one could have given, when none was given.
    std::vector<std::string> subcommands = {};
};

// The refusal in the operator's words, naming what is wrong: the unknown
// option or subcommand (not some other word the parser could not place
// because of it), the unexpected argument, counts in words ("--ip may be
// given once, not twice"). A report it does not know is kept as it stands.
[[nodiscard]] std::string DescribeParseFailure(const ParseFailure& failure);

}  // namespace korvane
