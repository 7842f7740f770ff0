#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace korvane {

// Runs `function` on the UI thread and returns when it has (from the work's thread).
using GuiCall = std::function<void(const std::function<void()>&)>;
// What a window's command does while the window waits for it: on a thread of
// its own, with a GuiCall for what must happen on the UI thread.
using WaitingWork = std::function<void(const GuiCall&)>;

// The thread of a waiting command, and what it and the window's UI thread
// hand each other while the window stays alive: the calls the work asks the
// UI thread to make (a message box while its endpoint is open), and the
// work's end. Lives on the UI thread's stack for one wait; the destructor
// joins the work's thread.
class GuiHandoff {
public:
    GuiHandoff() = default;
    ~GuiHandoff() { Join(); }
    GuiHandoff(const GuiHandoff&) = delete;
    GuiHandoff& operator=(const GuiHandoff&) = delete;

    // UI thread: starts `work` (which must outlive the wait) on a thread of
    // its own. False when no thread can be had: the work has then run here,
    // its calls made at once, the described way, with the window still.
    [[nodiscard]] bool Start(const WaitingWork& work);

    // UI thread: false once the work has ended; else makes the call the work
    // waits for, if there is one, with `call` (which may run a modal loop).
    template <typename Call>
    bool Serve(Call&& call) {
        const std::function<void()>* request = nullptr;
        {
            const std::lock_guard lock(mutex_);
            if (work_done_) {
                return false;
            }
            request = std::exchange(request_, nullptr);
        }
        if (request != nullptr) {
            call(*request);
            {
                const std::lock_guard lock(mutex_);
                request_done_ = true;
            }
            answered_.notify_all();
        }
        return true;
    }

    // UI thread: waits until the work's thread has ended.
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    // Work's thread: runs `function` on the UI thread; returns when it has.
    void CallOnGui(const std::function<void()>& function);

    std::mutex mutex_;
    std::condition_variable answered_;
    const std::function<void()>* request_ = nullptr;  // a call the work waits for
    bool request_done_ = false;
    bool work_done_ = false;
    std::thread thread_;
};

}  // namespace korvane
