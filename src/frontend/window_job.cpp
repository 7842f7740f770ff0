#include "frontend/window_job.hpp"

#include <chrono>
#include <thread>

#include "link/protocol.hpp"

namespace korvane {
namespace {

// The pause after stopping a download that was still running.
constexpr std::chrono::milliseconds AFTER_STOP_PAUSE{100};

}  // namespace

bool WindowJob::Stop() {
    if (!worker_) {
        return false;
    }
    const bool running = !worker_->Outcome().has_value();
    worker_.reset();  // abandons the job and joins its thread
    next_job_();
    return running;
}

void WindowJob::StopBeforeNext() {
    if (Stop()) {
        std::this_thread::sleep_for(AFTER_STOP_PAUSE);
    }
    link_.Abort().store(false);
}

bool WindowJob::Start(in_addr address, std::shared_ptr<const PacketQueue> queue,
                      DownloadPace pace) {
    worker_ = std::make_unique<DownloadWorker>(link_, address, std::move(queue),
                                               std::chrono::milliseconds(ACK_WAIT_MS), pace);
    if (!worker_->Start()) {
        worker_.reset();
        return false;
    }
    return true;
}

bool WindowJob::Join() {
    if (!worker_) {
        return false;
    }
    worker_->Join();
    return true;
}

}  // namespace korvane
