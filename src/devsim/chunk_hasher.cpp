#include "devsim/chunk_hasher.hpp"

#include <utility>

namespace korvane::devsim {

ChunkHasher::~ChunkHasher() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ChunkHasher::WaitIdle(std::unique_lock<std::mutex>& lock) {
    idle_.wait(lock, [this] { return pending_.empty() && !busy_; });
}

void ChunkHasher::Restart() {
    std::unique_lock lock(mutex_);
    WaitIdle(lock);
    md5_.Init();
}

void ChunkHasher::Add(std::span<const std::uint8_t> chunk) {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
    }
    idle_.wait(lock, [this] { return pending_.size() < MAX_PENDING; });
    pending_.emplace_back(chunk.begin(), chunk.end());
    lock.unlock();
    work_.notify_one();
}

Digest ChunkHasher::Finish() {
    std::unique_lock lock(mutex_);
    WaitIdle(lock);
    Digest digest{};
    md5_.Final(digest);
    return digest;
}

void ChunkHasher::Run() {
    std::vector<std::vector<std::uint8_t>> taken;
    std::unique_lock lock(mutex_);
    while (true) {
        work_.wait(lock, [this] { return stop_ || !pending_.empty(); });
        if (stop_) {
            return;
        }
        taken.swap(pending_);
        busy_ = true;
        lock.unlock();
        idle_.notify_one();  // room in the queue again
        for (const auto& chunk : taken) {
            md5_.Update(chunk);
        }
        taken.clear();
        lock.lock();
        busy_ = false;
        idle_.notify_one();
    }
}

}  // namespace korvane::devsim
