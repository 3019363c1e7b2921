#pragma once
// Runs an OutputSession on its own thread, so that converting, encoding and muxing overlap
// with the caller's decoding and drawing. The queue between the two is bounded in items and
// bytes: a caller that runs ahead waits. A failure on the encoding thread is handed back at
// the next push, and at Finish if no push reported it.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/ffmpeg/writer/OutputSession.h"

namespace trimora {

class EncodingPipeline {
public:
    explicit EncodingPipeline(std::unique_ptr<OutputSession> session);
    // Finishes the file when Finish was not called; never throws.
    ~EncodingPipeline();
    EncodingPipeline(const EncodingPipeline&) = delete;
    EncodingPipeline& operator=(const EncodingPipeline&) = delete;

    // A picture as OutputSession::AddVideo takes it; `bytes` is what it holds, for the budget.
    void PushVideo(ff::FramePtr picture, PictureSpan span, size_t bytes);
    void PushAudio(std::vector<uint8_t> block);

    // Waits for everything queued, then finishes the file. Throws the first failure not yet
    // reported (from the encoding thread or from finishing). Later calls do nothing.
    void Finish();

    static constexpr size_t kMaxItems = 24;
    static constexpr size_t kMaxBytes = 16u << 20;

private:
    enum class Kind { Video, Audio, Stop };
    struct Item {
        Kind kind = Kind::Stop;
        ff::FramePtr picture;       // video
        PictureSpan span;           // video
        std::vector<uint8_t> data;  // audio
        size_t bytes = 0;
    };
    void Push(Item item);
    void Run();
    void StopThread();

    std::unique_ptr<OutputSession> session_;
    std::mutex mutex_;
    std::condition_variable itemAdded_;
    std::condition_variable spaceFreed_;
    std::deque<Item> queue_;
    size_t queuedBytes_ = 0;
    std::exception_ptr failure_;
    bool failureReported_ = false;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace trimora
