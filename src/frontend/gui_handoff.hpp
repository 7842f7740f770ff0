#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>

namespace korvane {

// What the thread of a waiting command and the window's UI thread hand each
// other while the window stays alive: the calls the work asks the UI thread
// to make (a message box while its endpoint is open), and the work's end.
// Lives on the UI thread's stack for one wait; both threads use it.
class GuiHandoff {
public:
    // Work's thread: runs `function` on the UI thread; returns when it has.
    void CallOnGui(const std::function<void()>& function) {
        std::unique_lock lock(mutex_);
        request_ = &function;
        request_done_ = false;
        answered_.wait(lock, [this] { return request_done_; });
    }
    // Work's thread: the work has ended.
    void Finish() {
        const std::lock_guard lock(mutex_);
        work_done_ = true;
    }

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

private:
    std::mutex mutex_;
    std::condition_variable answered_;
    const std::function<void()>* request_ = nullptr;  // a call the work waits for
    bool request_done_ = false;
    bool work_done_ = false;
};

}  // namespace korvane
