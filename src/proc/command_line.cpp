#include "proc/command_line.hpp"

namespace korvane {
namespace {

constexpr std::string_view WHITE_SPACE = " \t\n\r\v\f";

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view command) {
    std::vector<std::string> words;
    std::size_t start = command.find_first_not_of(WHITE_SPACE);
    while (start != std::string_view::npos) {
        const std::size_t end = command.find_first_of(WHITE_SPACE, start);
        words.emplace_back(command.substr(start, end - start));
        start = command.find_first_not_of(WHITE_SPACE, end);
    }
    return words;
}

}  // namespace korvane
