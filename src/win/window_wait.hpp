#pragma once

#include <windows.h>

#include <chrono>
#include <functional>

#include "frontend/gui_handoff.hpp"

namespace korvane {

// Runs `work` on a thread of its own while the UI thread keeps `window` alive:
// it repaints and handles posted notifications (a running download's
// progress), but the window is disabled, so mouse, keys and the close box
// reach it only once the work is done and no second command can start
// meanwhile. The work may show something on the UI thread with the GuiCall it
// is given (a message box while its endpoint is still open). Returns when the
// work has ended and its thread has been joined. UI thread only.
void RunWhileWindowWaits(HWND window, const WaitingWork& work);

// Handles the UI thread's messages (a dialog's keys through `dialog`, when
// one is given) until `done` holds; false when `limit` passes first. A
// WM_QUIT that comes meanwhile is put back for the loop outside. UI thread.
bool PumpMessagesUntil(HWND dialog, const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::milliseconds::max());

}  // namespace korvane
