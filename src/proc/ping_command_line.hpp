#pragma once

#include <string>
#include <string_view>

namespace korvane {

// Linux's ping runs until stopped unless told how many echo requests to send,
// so the count is fixed at four, as the connectivity check expects a finished
// run to show.
inline constexpr std::string_view PING_COMMAND_PREFIX = "ping -c 4 ";

// The connectivity check's command line: PING_COMMAND_PREFIX directly followed
// by the typed address text, unchanged (not trimmed, not validated). Extra
// words the operator typed become extra arguments of ping; since the line is
// only ever split on white space and started without a shell, a text such as
// "1.2.3.4; rm x" reaches ping as the words "1.2.3.4;", "rm" and "x".
[[nodiscard]] std::string PingCommandLine(std::string_view address_text);

}  // namespace korvane
