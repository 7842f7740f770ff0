#include "win/window_wait.hpp"

#include <system_error>
#include <thread>

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

void RunWhileWindowWaits(HWND window, const std::function<void(const GuiCall&)>& work) {
    GuiHandoff handoff;
    const GuiCall call_on_gui = [&handoff](const std::function<void()>& function) {
        handoff.CallOnGui(function);
    };
    std::thread thread;
    try {
        thread = std::thread([&] {
            work(call_on_gui);
            handoff.Finish();
        });
    } catch (const std::system_error&) {
        // No thread to be had: wait the described way, with the window still.
        work([](const std::function<void()>& function) { function(); });
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
    thread.join();
    EnableWindow(window, TRUE);
    if (focus != nullptr && IsWindow(focus)) {
        SetFocus(focus);
    }
}

}  // namespace korvane
