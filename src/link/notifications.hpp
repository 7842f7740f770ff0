#pragma once

#include <cstdint>

namespace korvane {

// One notification for the front end, with the meaning of its code (UM_*):
//   UM_PACKET_ACKED   both values 0
//   UM_DOWNLOAD_DONE  first 1 success, 0 failure
//   UM_MACHINE_CODE   the eight machine-code bytes, first value = bytes 1-4,
//                     second value = bytes 5-8, each least significant byte first
struct Notification {
    unsigned code = 0;
    std::uint32_t first = 0;
    std::uint32_t second = 0;

    friend bool operator==(const Notification&, const Notification&) = default;
};

// Where the core's threads post their notifications. Post() must return at once
// (never wait for the receiver), keep the order of posts from one thread, and
// never throw: it runs on receive and worker threads, where an exception has
// nowhere to go.
// Implemented by each front end: the dialog posts to its own event queue, the
// CLI pushes to a thread-safe queue.
class NotificationSink {
public:
    virtual ~NotificationSink() = default;
    virtual void Post(const Notification& notification) noexcept = 0;
};

}  // namespace korvane
