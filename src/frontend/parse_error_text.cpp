#include "frontend/parse_error_text.hpp"

#include <algorithm>
#include <array>
#include <regex>
#include <string_view>

namespace korvane {
namespace {

std::string InWords(unsigned long number) {
    static constexpr std::array<std::string_view, 11> WORDS = {
        "none", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten"};
    return number < WORDS.size() ? std::string(WORDS[number]) : std::to_string(number);
}

std::string Times(unsigned long number) {
    if (number == 1) {
        return "once";
    }
    return number == 2 ? "twice" : InWords(number) + " times";
}

std::string Values(unsigned long number) {
    return InWords(number) + (number == 1 ? " value" : " values");
}

bool IsOption(std::string_view word) {
    return word.size() > 1 && word.front() == '-';
}

std::string Join(const std::vector<std::string>& words) {
    std::string joined;
    for (const std::string& word : words) {
        joined += (joined.empty() ? "" : ", ") + word;
    }
    return joined;
}

std::string DescribeLeftovers(const ParseFailure& failure) {
    const std::string& first = failure.leftovers.front();
    if (!failure.subcommands.empty() && !IsOption(first)) {
        return "unknown subcommand '" + first + "' (one of: " + Join(failure.subcommands) + ")";
    }
    const auto option = std::ranges::find_if(failure.leftovers, IsOption);
    if (option != failure.leftovers.end()) {
        // "--name=value" names the option "--name".
        return "unknown option '" + option->substr(0, option->find('=')) + "'";
    }
    return "unexpected argument '" + first + "'";
}

unsigned long Number(const std::ssub_match& match) {
    return std::stoul(match.str());
}

}  // namespace

std::string DescribeParseFailure(const ParseFailure& failure) {
    if (!failure.leftovers.empty()) {
        return DescribeLeftovers(failure);
    }
    const std::string& text = failure.message;
    std::smatch m;
    if (failure.kind == "RequiredError" && text == "A subcommand is required") {
        return "no subcommand given (one of: " + Join(failure.subcommands) + ")";
    }
    if (std::regex_match(text, m,
                         std::regex(R"((\S+): At Most (\d+) required but received (\d+))"))) {
        if (Number(m[2]) == 1) {
            return m[1].str() + " may be given once, not " + Times(Number(m[3]));
        }
        return m[1].str() + " takes at most " + Values(Number(m[2])) + ", not " +
               InWords(Number(m[3]));
    }
    if (std::regex_match(text, m,
                         std::regex(R"((\S+): At least (\d+) required but received (\d+))"))) {
        return m[1].str() + " needs at least " + Values(Number(m[2])) + ", not " +
               InWords(Number(m[3]));
    }
    if (std::regex_match(text, m, std::regex(R"((\S+): (\d+) required (\S*) ?missing)"))) {
        return m[1].str() + " needs " + (Number(m[2]) == 1 ? "a value" : Values(Number(m[2]))) +
               (m[3].length() > 0 ? " (" + m[3].str() + ")" : "");
    }
    if (std::regex_match(
            text, m,
            std::regex(R"(Expected (exactly|at least) (\d+) arguments to (\S+), got (\d+))"))) {
        return m[3].str() + (m[1] == "exactly" ? " takes " : " needs at least ") +
               Values(Number(m[2])) + ", not " + InWords(Number(m[4]));
    }
    if (std::regex_match(text, m, std::regex(R"(Could not convert: (\S+) = (.*))")) ||
        std::regex_match(text, m,
                         std::regex(R"(The value (.*) is not an allowed value for (\S+))"))) {
        const bool named_first = text.starts_with("Could");
        return m[named_first ? 1 : 2].str() + ": '" + m[named_first ? 2 : 1].str() +
               "' is not a valid value";
    }
    if (std::regex_match(text, m, std::regex(R"((\S+): too many inputs for a flag)"))) {
        return m[1].str() + " is a flag and takes no value";
    }
    return text;
}

}  // namespace korvane
