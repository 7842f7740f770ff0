#include "proc/ping_command_line.hpp"

#include "proc/run_and_collect.hpp"

namespace korvane {

std::string PingCommandLine(std::string_view address_text) {
    std::string line(PING_COMMAND_PREFIX);
    line.append(address_text);
    return line;
}

std::string PingCommandLine(std::string_view address, unsigned count) {
    if (count == DEFAULT_PING_COUNT) {
        return PingCommandLine(address);
    }
    std::string line(PING_PROGRAM);
    line.append(" ").append(PING_COUNT_OPTION).append(" ").append(std::to_string(count));
    line.append(" ").append(address);
    return line;
}

std::chrono::milliseconds PingTimeLimit(unsigned count) {
    const unsigned further = count > DEFAULT_PING_COUNT ? count - DEFAULT_PING_COUNT : 0;
    return RUN_AND_COLLECT_LIMIT + std::chrono::seconds(further);
}

}  // namespace korvane
