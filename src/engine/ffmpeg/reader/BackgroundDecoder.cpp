#include "engine/ffmpeg/reader/BackgroundDecoder.h"

#include <utility>

namespace trimora {

BackgroundDecoder::~BackgroundDecoder() {
    if (!thread_.joinable()) return;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return done_; });
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundDecoder::Run(std::function<void()> work) {
    Start(std::move(work));
    Wait();
}

void BackgroundDecoder::Start(std::function<void()> work) {
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    {
        std::lock_guard lock(mutex_);
        work_ = std::move(work);
        done_ = false;
        failure_ = nullptr;
    }
    pending_ = true;
    changed_.notify_all();
}

void BackgroundDecoder::Wait() {
    if (!pending_) return;
    pending_ = false;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
    work_ = nullptr;
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void BackgroundDecoder::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || (work_ && !done_); });
        if (stopping_) return;
        std::function<void()> work = std::move(work_);
        work_ = nullptr;
        lock.unlock();
        std::exception_ptr failure;
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        work = nullptr;
        lock.lock();
        failure_ = failure;
        done_ = true;
        changed_.notify_all();
    }
}

}  // namespace trimora
