#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

#include "link/notifications.hpp"

namespace korvane::testing {

// Keeps every notification posted to it, in order. Posted from any thread
// (a receive thread, typically) and read from the test thread; lives as long
// as the test that owns it.
class RecordingSink final : public NotificationSink {
public:
    void Post(const Notification& notification) noexcept override {
        const std::lock_guard lock(mutex_);
        posted_.push_back(notification);
    }
    [[nodiscard]] std::vector<Notification> Posted() const {
        const std::lock_guard lock(mutex_);
        return posted_;
    }
    [[nodiscard]] std::size_t Count(unsigned code) const {
        const std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count_if(
            posted_.begin(), posted_.end(), [&](const Notification& n) { return n.code == code; }));
    }

private:
    mutable std::mutex mutex_;
    std::vector<Notification> posted_;
};

}  // namespace korvane::testing
