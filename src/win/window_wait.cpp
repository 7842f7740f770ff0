#include "win/window_wait.hpp"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace korvane {
namespace {

// How often the UI thread looks whether the work is done or asks for a call,
// when no message wakes it sooner.
constexpr DWORD HANDOFF_CHECK_MS = 10;

// What the work's thread and the UI thread hand each other.
struct Handoff {
    std::mutex mutex;
    std::condition_variable answered;
    const std::function<void()>* request = nullptr;  // a call the work waits for
    bool request_done = false;
    bool work_done = false;
};

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
    Handoff handoff;
    const GuiCall call_on_gui = [&handoff](const std::function<void()>& function) {
        std::unique_lock lock(handoff.mutex);
        handoff.request = &function;
        handoff.request_done = false;
        handoff.answered.wait(lock, [&handoff] { return handoff.request_done; });
    };
    std::thread thread;
    try {
        thread = std::thread([&] {
            work(call_on_gui);
            const std::lock_guard lock(handoff.mutex);
            handoff.work_done = true;
        });
    } catch (const std::system_error&) {
        // No thread to be had: wait the described way, with the window still.
        work([](const std::function<void()>& function) { function(); });
        return;
    }

    const HWND focus = GetFocus();
    EnableWindow(window, FALSE);
    for (;;) {
        const std::function<void()>* request = nullptr;
        {
            const std::lock_guard lock(handoff.mutex);
            if (handoff.work_done) {
                break;
            }
            request = std::exchange(handoff.request, nullptr);
        }
        if (request != nullptr) {
            (*request)();                 // may run a modal loop of its own...
            EnableWindow(window, FALSE);  // ...which enables its owner as it ends
            {
                const std::lock_guard lock(handoff.mutex);
                handoff.request_done = true;
            }
            handoff.answered.notify_all();
        }
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
