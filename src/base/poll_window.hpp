#pragma once

#include <chrono>
#include <thread>

namespace korvane {

// Decides, wait by wait, whether a thread that waits for a datagram looks
// for it without sleeping (non-blocking receives for a short window) before
// it sleeps on the socket. A reply that comes within the window is taken with
// no sleep and no wake-up; on a virtual machine that wake-up of an idle core
// costs more than a loopback round trip itself.
//
// Looking costs a core while it lasts, so it is kept within bounds:
// - a process looks only while it has at most half the machine's cores'
//   worth of windows (none on one core): a fleet of exchanges, which keeps
//   the cores busy anyway, always sleeps at once;
// - after two waits in a row that the window missed, the next
//   PROBE_EVERY - 1 waits sleep at once, twice as many after each further
//   miss in a row (up to PROBE_EVERY << MAX_DOUBLINGS), so a slow peer (a
//   real device, a wide network) or a machine busy with other exchanges soon
//   costs next to nothing. One miss alone costs nothing more: a peer that
//   keeps up still stalls now and then (a simulator writing a block of its
//   image). A datagram the window catches starts over.
// One per waiting thread, living as long as the exchange it serves; not
// thread-safe (the count of windows is).
class PollWindow {
public:
    static constexpr int PROBE_EVERY = 16;
    static constexpr int MAX_DOUBLINGS = 6;

    explicit PollWindow(std::chrono::nanoseconds window,
                        unsigned cores = std::thread::hardware_concurrency());
    ~PollWindow();
    PollWindow(const PollWindow&) = delete;
    PollWindow& operator=(const PollWindow&) = delete;

    // Calls `take` (a non-blocking receive: true when it took something)
    // once, then again until it takes something or the window has passed;
    // true when it took something. Only the first call when this wait is to
    // sleep at once.
    template <class Take>
    [[nodiscard]] bool Poll(Take&& take) {
        if (take()) {
            return true;  // says nothing of the peer's pace: the caller may have been slow
        }
        if (skip_ > 0) {
            --skip_;
            return false;
        }
        if (!CoreFree()) {
            return false;
        }
        const auto until = std::chrono::steady_clock::now() + window_;
        do {
            if (take()) {
                misses_ = 0;  // the peer keeps up again
                return true;
            }
        } while (std::chrono::steady_clock::now() < until);
        misses_ += misses_ < MAX_DOUBLINGS + 2 ? 1 : 0;
        skip_ = misses_ >= 2 ? (PROBE_EVERY << (misses_ - 2)) - 1 : 0;
        return false;
    }

private:
    // Few enough windows in the process for each to have a core to look with.
    [[nodiscard]] bool CoreFree() const noexcept;

    const std::chrono::nanoseconds window_;
    const unsigned cores_;
    int skip_ = 0;    // waits still to sleep at once
    int misses_ = 0;  // windows missed in a row, up to MAX_DOUBLINGS + 2
};

}  // namespace korvane
