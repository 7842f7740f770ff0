#include "devsim/chunk_sink.hpp"

#include <utility>

namespace korvane::devsim {

ChunkSink::~ChunkSink() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ChunkSink::WaitIdle(std::unique_lock<std::mutex>& lock) {
    flush_ = true;
    work_.notify_one();
    idle_.wait(lock, [this] { return pending_.empty() && !busy_; });
    flush_ = false;
}

void ChunkSink::Restart(PendingImage* file) {
    std::unique_lock lock(mutex_);
    WaitIdle(lock);
    md5_.Init();
    file_ = file;
}

void ChunkSink::Add(std::span<const std::uint8_t> chunk) {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
    }
    idle_.wait(lock, [this] { return pending_.size() < MAX_PENDING; });
    pending_.emplace_back(chunk.begin(), chunk.end());
    // The thread is woken once per batch, not per chunk, so that the serving
    // thread makes no system call for most chunks.
    if (pending_.size() == BATCH) {
        lock.unlock();
        work_.notify_one();
    }
}

Digest ChunkSink::Finish() {
    std::unique_lock lock(mutex_);
    WaitIdle(lock);
    Digest digest{};
    md5_.Final(digest);
    file_ = nullptr;
    return digest;
}

void ChunkSink::Run() {
    std::vector<std::vector<std::uint8_t>> taken;
    std::unique_lock lock(mutex_);
    while (true) {
        work_.wait(lock, [this] {
            return stop_ || pending_.size() >= BATCH || (flush_ && !pending_.empty());
        });
        if (stop_) {
            return;
        }
        taken.swap(pending_);
        busy_ = true;
        lock.unlock();
        idle_.notify_one();  // room in the queue again
        for (const auto& chunk : taken) {
            md5_.Update(chunk);
            if (file_ != nullptr) {
                file_->Write(chunk);
            }
        }
        taken.clear();
        lock.lock();
        busy_ = false;
        idle_.notify_one();
    }
}

}  // namespace korvane::devsim
