#include "win/window_wait.hpp"

#include "frontend/gui_handoff.hpp"

namespace korvane {
namespace {

// How often the UI thread looks whether the work is done or asks for a call,
// when no message wakes it sooner.
constexpr DWORD HANDOFF_CHECK_MS = 10;

// Handles what is queued for the thread, the dialogs' keys included.
void PumpMessages(HWND window) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the loop outside
            return;
        }
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace

void RunWhileWindowWaits(HWND window, const WaitingWork& work) {
    GuiHandoff handoff;
    if (!handoff.Start(work)) {
        return;
    }

    const HWND focus = GetFocus();
    EnableWindow(window, FALSE);
    while (handoff.Serve([window](const std::function<void()>& request) {
        request();                    // may run a modal loop of its own...
        EnableWindow(window, FALSE);  // ...which enables its owner as it ends
    })) {
        (void)MsgWaitForMultipleObjects(0, nullptr, FALSE, HANDOFF_CHECK_MS, QS_ALLINPUT);
        PumpMessages(window);
    }
    handoff.Join();
    EnableWindow(window, TRUE);
    if (focus != nullptr && IsWindow(focus)) {
        SetFocus(focus);
    }
}

}  // namespace korvane
