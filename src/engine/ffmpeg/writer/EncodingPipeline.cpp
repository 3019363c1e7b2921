#include "engine/ffmpeg/writer/EncodingPipeline.h"

#include "engine/EngineError.h"

namespace trimora {

EncodingPipeline::EncodingPipeline(std::unique_ptr<OutputSession> session) : session_(std::move(session)) {
    thread_ = std::thread([this] { Run(); });
}

EncodingPipeline::~EncodingPipeline() {
    try {
        Finish();
    } catch (...) {
        // The owner chose not to ask how finishing went.
    }
}

void EncodingPipeline::PushVideo(ff::FramePtr picture, PictureSpan span, size_t bytes) {
    Push(Item{Kind::Video, std::move(picture), span, {}, bytes});
}

void EncodingPipeline::PushAudio(std::vector<uint8_t> block) {
    const size_t bytes = block.size();
    Push(Item{Kind::Audio, nullptr, {}, std::move(block), bytes});
}

void EncodingPipeline::Push(Item item) {
    std::unique_lock lock(mutex_);
    if (finished_) throw EngineError("The output file is already closed");
    // A single item larger than the byte budget still goes through once the queue is empty.
    spaceFreed_.wait(lock, [this, &item] {
        return failure_ || queue_.empty() ||
               (queue_.size() < kMaxItems && queuedBytes_ + item.bytes <= kMaxBytes);
    });
    if (failure_) {
        failureReported_ = true;
        std::rethrow_exception(failure_);
    }
    queuedBytes_ += item.bytes;
    queue_.push_back(std::move(item));
    itemAdded_.notify_one();
}

void EncodingPipeline::Run() {
    for (;;) {
        Item item;
        bool failed = false;
        {
            std::unique_lock lock(mutex_);
            itemAdded_.wait(lock, [this] { return !queue_.empty(); });
            item = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= item.bytes;
            failed = failure_ != nullptr;
            // A producer waiting for room is woken once half the queue is free, not for every
            // item taken: it then queues several in one go instead of waking for each.
            if (queue_.size() <= kMaxItems / 2 && queuedBytes_ <= kMaxBytes / 2) spaceFreed_.notify_all();
        }
        if (item.kind == Kind::Stop) return;
        if (failed) continue;  // after a failure the rest is dropped; the file ends where it broke
        try {
            if (item.kind == Kind::Video)
                session_->AddVideo(std::move(item.picture), item.span);
            else
                session_->AddAudio(item.data);
        } catch (...) {
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            spaceFreed_.notify_all();
        }
    }
}

void EncodingPipeline::StopThread() {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Item{});
        itemAdded_.notify_one();
    }
    thread_.join();
}

void EncodingPipeline::Finish() {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
    }
    StopThread();
    std::exception_ptr pending = failureReported_ ? nullptr : failure_;
    try {
        session_->Finish();
    } catch (...) {
        if (!pending) pending = std::current_exception();
    }
    if (pending) std::rethrow_exception(pending);
}

}  // namespace trimora
