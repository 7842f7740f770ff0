#include "base/poll_window.hpp"

#include <atomic>

namespace korvane {
namespace {

// The PollWindows of this process.
std::atomic<unsigned> windows{0};

}  // namespace

PollWindow::PollWindow(std::chrono::nanoseconds window, unsigned cores)
    : window_(window), cores_(cores) {
    windows.fetch_add(1, std::memory_order_relaxed);
}

PollWindow::~PollWindow() {
    windows.fetch_sub(1, std::memory_order_relaxed);
}

bool PollWindow::CoreFree() const noexcept {
    return windows.load(std::memory_order_relaxed) <= cores_ / 2;
}

}  // namespace korvane
