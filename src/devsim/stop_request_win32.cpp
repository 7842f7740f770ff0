#include <windows.h>

#include "base/wake_event.hpp"
#include "devsim/stop_request.hpp"

namespace korvane::devsim {
namespace {

// The handler runs on a thread the system starts for each console event and
// knows no object: the event it sets is the process's one.
WakeEvent& Requested() {
    static WakeEvent requested;
    return requested;
}

BOOL WINAPI OnConsoleEvent(DWORD /*event: Ctrl-C, Ctrl-Break, close, logoff, shutdown*/) {
    Requested().Set();
    return TRUE;
}

}  // namespace

StopRequest::StopRequest() {
    (void)Requested();
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void StopRequest::Wait() {
    (void)Requested().WaitFor(NO_TIME_LIMIT);
}

}  // namespace korvane::devsim
