#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// Splits a command line into the words of the program's argument vector: runs
// of white space (space, tab, line feed, carriage return, vertical tab, form
// feed) separate words; nothing else is special. There is no quoting, no
// escaping and no shell: "a;b" stays one word, "'x y'" is two words. Text of
// only white space gives no words.
[[nodiscard]] std::vector<std::string> SplitCommandLine(std::string_view command);

}  // namespace korvane
