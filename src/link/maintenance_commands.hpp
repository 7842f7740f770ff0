#pragma once

#include <functional>
#include <string_view>

#include "link/device_link.hpp"
#include "link/link_route.hpp"

// The two maintenance exchanges: one request to the device, one wait of at most
// 5000 ms for its reply. Each runs on the caller's thread (blocking it for the
// wait) with an endpoint and an acknowledgement event of its own that live
// exactly as long as the command, so it neither takes nor is released by what a
// download on the same link waits for. The link's AbortFlag and sink are
// shared: a refusal stops a running download, a machine code is posted to the
// sink, and cancelling the link's AckEvent (close request) ends the wait.
namespace korvane {

enum class CommandStatus {
    Answered,        // a reply released the wait
    NoReply,         // the wait ran out (a refused restore ends this way too)
    Cancelled,       // the front end cancelled the link's AckEvent
    EndpointFailed,  // the socket could not be opened
    InvalidAddress,  // the address text does not parse; nothing was sent
};

struct CommandOutcome {
    CommandStatus status = CommandStatus::NoReply;
    std::string_view message;  // what the operator is told; empty: nothing
};

// Shows an outcome to the operator. It is called while the command's endpoint
// is still open, so a reply that comes late, while the operator reads the
// message, is still handled by the link.
using ShowOutcome = std::function<void(const CommandOutcome&)>;

// Asks the device to restore its network address: "还原IP地址成功" when it
// acknowledges, "还原IP地址失败" otherwise (a refusal also leaves the link's
// AbortFlag set), "初始化UDP失败" when no socket could be opened.
[[nodiscard]] CommandOutcome RestoreIp(DeviceLink& link, std::string_view address_text,
                                       const ShowOutcome& show = {}, const LinkRoute& route = {});

// Asks the device for its machine code. The code itself arrives as a
// UM_MACHINE_CODE notification on the link's sink before the wait ends; the
// outcome only tells "无响应，读取机器码失败，请检查网线！" when no reply came.
// A socket that cannot be opened is not reported apart: the request cannot go
// out and the wait runs out.
[[nodiscard]] CommandOutcome GetMachineCode(DeviceLink& link, std::string_view address_text,
                                            const ShowOutcome& show = {},
                                            const LinkRoute& route = {});

}  // namespace korvane
