#include "proc/ping_command_line.hpp"

namespace korvane {

std::string PingCommandLine(std::string_view address_text) {
    std::string line(PING_COMMAND_PREFIX);
    line.append(address_text);
    return line;
}

}  // namespace korvane
