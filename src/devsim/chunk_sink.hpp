#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "devsim/image_store.hpp"
#include "download/md5_context.hpp"
#include "link/protocol.hpp"

namespace korvane::devsim {

// Where the accepted chunks of one image go: into its MD5 and, when there is
// one, its PendingImage file, both on a thread of its own so that the caller
// (the simulator's serving thread) answers the next request meanwhile. Owns
// copies of the chunks not yet taken (at most MAX_PENDING; Add waits for room
// beyond that) and the thread, started at the first Add and stopped by the
// destructor. Add, Restart and Finish are for one thread at a time.
class ChunkSink {
public:
    ChunkSink() = default;
    ~ChunkSink();
    ChunkSink(const ChunkSink&) = delete;
    ChunkSink& operator=(const ChunkSink&) = delete;

    // Drops the image so far (after its pending chunks) and starts a new one,
    // written to `file` (may be null) until the next Restart or Finish.
    void Restart(PendingImage* file);
    void Add(std::span<const std::uint8_t> chunk);
    // The digest of every chunk added since the last Restart or Finish, once
    // all of them are hashed and written; the next image starts empty, unwritten.
    [[nodiscard]] Digest Finish();

    static constexpr std::size_t BATCH = 32;         // chunks hashed per wake-up
    static constexpr std::size_t MAX_PENDING = 256;  // 2 MB of full chunks

private:
    void Run();
    void WaitIdle(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable work_;  // a batch pending, a flush, or stop
    std::condition_variable idle_;  // room in the queue, or nothing pending
    std::vector<std::vector<std::uint8_t>> pending_;
    bool busy_ = false;   // the thread hashes chunks taken from pending_
    bool flush_ = false;  // Restart or Finish waits: hash whatever is pending
    bool stop_ = false;
    Md5Context md5_;                // the thread's while busy_, else under mutex_
    PendingImage* file_ = nullptr;  // likewise; the caller's, outlives its use here
    std::thread thread_;
};

}  // namespace korvane::devsim
