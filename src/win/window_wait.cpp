#include "win/window_wait.hpp"

#include <optional>

#include "frontend/gui_handoff.hpp"

namespace korvane {
namespace {

// How often the UI thread looks whether the wait is over (the work done, or a
// call asked for), when no message wakes it sooner.
constexpr DWORD HANDOFF_CHECK_MS = 10;

}  // namespace

void RunWhileWindowWaits(HWND window, const WaitingWork& work) {
    GuiHandoff handoff;
    if (!handoff.Start(work)) {
        return;
    }

    const HWND focus = GetFocus();
    EnableWindow(window, FALSE);
    (void)PumpMessagesUntil(window, [&] {
        return !handoff.Serve([window](const std::function<void()>& request) {
            request();                    // may run a modal loop of its own...
            EnableWindow(window, FALSE);  // ...which enables its owner as it ends
        });
    });
    handoff.Join();
    EnableWindow(window, TRUE);
    if (focus != nullptr && IsWindow(focus)) {
        SetFocus(focus);
    }
}

bool PumpMessagesUntil(HWND dialog, const std::function<bool()>& done,
                       std::chrono::milliseconds limit) {
    const auto start = std::chrono::steady_clock::now();
    std::optional<int> quit;
    const bool ended = [&] {
        while (!done()) {
            if (limit != std::chrono::milliseconds::max() &&
                std::chrono::steady_clock::now() - start > limit) {
                return false;
            }
            (void)MsgWaitForMultipleObjects(0, nullptr, FALSE, HANDOFF_CHECK_MS, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    quit = static_cast<int>(message.wParam);
                } else if (dialog == nullptr || !IsDialogMessageW(dialog, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
        }
        return true;
    }();
    if (quit) {
        PostQuitMessage(*quit);  // for the loop outside
    }
    return ended;
}

}  // namespace korvane
