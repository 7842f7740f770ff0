#pragma once

namespace korvane::devsim {

// The operator's request to end the korvane-devsim program: SIGINT or SIGTERM
// on POSIX; Ctrl-C, Ctrl-Break or the console closing on Windows. Made on the
// main thread before any other thread (on POSIX it blocks the two signals,
// which every later thread inherits, so that none is interrupted by one, and
// ignores SIGPIPE: a reader that went away must not end the device). Lives
// for the program.
class StopRequest {
public:
    StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // Returns once the request has come.
    void Wait();
};

}  // namespace korvane::devsim
