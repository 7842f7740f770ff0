#pragma once

#include <unistd.h>

#include <utility>

namespace korvane {

// Owns one POSIX file descriptor (socket, pipe end) and closes it when it goes
// away; on Windows a C runtime descriptor (a file: sockets there are not
// descriptors). Move-only; -1 means "none". Not thread-safe: one owner at a time.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~UniqueFd() { Reset(); }

    [[nodiscard]] int Get() const noexcept { return fd_; }
    [[nodiscard]] bool Valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return Valid(); }

    // Gives up ownership without closing.
    [[nodiscard]] int Release() noexcept { return std::exchange(fd_, -1); }

    void Reset(int fd = -1) noexcept {
        const int old = std::exchange(fd_, fd);
        if (old >= 0) {
            ::close(old);
        }
    }

private:
    int fd_ = -1;
};

}  // namespace korvane
