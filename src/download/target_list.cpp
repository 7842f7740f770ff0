#include "download/target_list.hpp"

namespace korvane {

std::vector<std::string> ParseTargetList(std::string_view text) {
    static constexpr std::string_view SPACE = " \t\r\v\f";
    std::vector<std::string> targets;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        line = line.substr(0, line.find('#'));
        const std::size_t first = line.find_first_not_of(SPACE);
        if (first == std::string_view::npos) {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(SPACE) - first + 1);
        targets.emplace_back(line);
    }
    return targets;
}

}  // namespace korvane
