#include "cli/terminal.hpp"

#include <cstdlib>
#include <string_view>

namespace korvane::cli {
namespace {

// A positive count from the environment, 0 when unset or not a plain number.
std::size_t FromEnvironment(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return *end == '\0' && std::string_view(text).find('-') == std::string_view::npos ? value : 0;
}

}  // namespace

TerminalSize StderrTerminalSize() noexcept {
    const TerminalSize reported = ReportedStderrSize();
    TerminalSize size;
    if (reported.columns > 0) {
        size.columns = reported.columns;
    } else if (const std::size_t columns = FromEnvironment("COLUMNS"); columns > 0) {
        size.columns = columns;
    }
    if (reported.rows > 0) {
        size.rows = reported.rows;
    } else if (const std::size_t rows = FromEnvironment("LINES"); rows > 0) {
        size.rows = rows;
    }
    return size;
}

}  // namespace korvane::cli
