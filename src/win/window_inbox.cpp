#include "win/window_inbox.hpp"

#include "link/protocol.hpp"

namespace korvane {

void WindowInbox::Post(const Notification& notification) noexcept {
    const LPARAM second = notification.code == UM_MACHINE_CODE
                              ? static_cast<LPARAM>(notification.second)
                              : static_cast<LPARAM>(job_.load());
    // A full queue (ten thousand messages the UI thread has not taken) loses
    // the message, as a lost datagram would be lost.
    (void)PostMessageW(window_.load(), notification.code, notification.first, second);
}

}  // namespace korvane
