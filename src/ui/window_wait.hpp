#pragma once

#include <QWidget>

#include "frontend/gui_handoff.hpp"

namespace korvane {

// Runs `work` on a thread of its own while the GUI thread keeps the window
// alive: it repaints and handles posted notifications (a running download's
// progress), but mouse, keys and the close box of `window` are dropped until
// the work is done, so no second command can start meanwhile. The work may
// show something on the GUI thread with the GuiCall it is given (a message box
// while its endpoint is still open). Returns when the work has ended and its
// thread has been joined. GUI thread only.
void RunWhileWindowWaits(QWidget& window, const WaitingWork& work);

}  // namespace korvane
