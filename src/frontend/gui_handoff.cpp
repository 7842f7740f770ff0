#include "frontend/gui_handoff.hpp"

#include <system_error>

namespace korvane {

bool GuiHandoff::Start(const WaitingWork& work) {
    try {
        thread_ = std::thread([this, &work] {
            work([this](const std::function<void()>& function) { CallOnGui(function); });
            const std::lock_guard lock(mutex_);
            work_done_ = true;
        });
        return true;
    } catch (const std::system_error&) {
        work([](const std::function<void()>& function) { function(); });
        return false;
    }
}

void GuiHandoff::CallOnGui(const std::function<void()>& function) {
    std::unique_lock lock(mutex_);
    request_ = &function;
    request_done_ = false;
    answered_.wait(lock, [this] { return request_done_; });
}

}  // namespace korvane
