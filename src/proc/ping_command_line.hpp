#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace korvane {

// Linux's ping runs until stopped unless told how many echo requests to send,
// so the count is fixed at four there ("ping -c 4 "), as the connectivity
// check expects a finished run to show; Windows' ping sends four by itself
// ("ping.exe "). Defined by ping_command_line_posix.cpp / _win32.cpp.
extern const std::string_view PING_COMMAND_PREFIX;
// The program, and its option for the count ("-c"; "-n" on Windows).
extern const std::string_view PING_PROGRAM;
extern const std::string_view PING_COUNT_OPTION;
inline constexpr unsigned DEFAULT_PING_COUNT = 4;

// The connectivity check's command line: PING_COMMAND_PREFIX directly followed
// by the typed address text, unchanged (not trimmed, not validated). Extra
// words the operator typed become extra arguments of ping; since the line is
// only ever split on white space and started without a shell, a text such as
// "1.2.3.4; rm x" reaches ping as the words "1.2.3.4;", "rm" and "x".
[[nodiscard]] std::string PingCommandLine(std::string_view address_text);

// "ping -c COUNT ADDRESS" ("ping.exe -n COUNT ADDRESS"), for a front end that
// has checked the address already; with DEFAULT_PING_COUNT the line above.
[[nodiscard]] std::string PingCommandLine(std::string_view address, unsigned count);

// How long a ping of `count` echo requests may run: the connectivity check's
// RUN_AND_COLLECT_LIMIT for the default four, and one second more (ping's
// interval) for every further request, so that a long count is not cut short.
[[nodiscard]] std::chrono::milliseconds PingTimeLimit(unsigned count);

}  // namespace korvane
