#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "download/md5_context.hpp"
#include "link/protocol.hpp"

namespace korvane::devsim {

// The MD5 of one message fed in chunks, computed on a thread of its own so
// that the caller (the simulator's serving thread) can answer the next request
// meanwhile. Owns copies of the chunks not yet hashed (at most MAX_PENDING; Add
// waits for room beyond that) and the thread, started at the first Add and
// stopped by the destructor. Add, Restart and Finish are for one thread at a time.
class ChunkHasher {
public:
    ChunkHasher() = default;
    ~ChunkHasher();
    ChunkHasher(const ChunkHasher&) = delete;
    ChunkHasher& operator=(const ChunkHasher&) = delete;

    // Drops the message so far (after its pending chunks) and starts a new one.
    void Restart();
    void Add(std::span<const std::uint8_t> chunk);
    // The digest of every chunk added since the last Restart or Finish, once
    // all of them are hashed; the next message starts empty.
    [[nodiscard]] Digest Finish();

    static constexpr std::size_t MAX_PENDING = 256;  // 2 MB of full chunks

private:
    void Run();
    void WaitIdle(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable work_;  // chunks pending, or stop
    std::condition_variable idle_;  // room in the queue, or nothing pending
    std::vector<std::vector<std::uint8_t>> pending_;
    bool busy_ = false;  // the thread hashes chunks taken from pending_
    bool stop_ = false;
    Md5Context md5_;  // the thread's while busy_, else under mutex_
    std::thread thread_;
};

}  // namespace korvane::devsim
