#include "proc/ping_command_line.hpp"

namespace korvane {

const std::string_view PING_COMMAND_PREFIX = "ping -c 4 ";
const std::string_view PING_PROGRAM = "ping";
const std::string_view PING_COUNT_OPTION = "-c";

}  // namespace korvane
