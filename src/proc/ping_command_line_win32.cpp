#include "proc/ping_command_line.hpp"

namespace korvane {

// Windows' ping ends by itself after four echo requests.
const std::string_view PING_COMMAND_PREFIX = "ping.exe ";
const std::string_view PING_PROGRAM = "ping.exe";
const std::string_view PING_COUNT_OPTION = "-n";

}  // namespace korvane
