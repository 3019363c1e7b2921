#pragma once
// A thread of the reader's own that runs one piece of the reader's work at a time. The reader
// hands it the decoding while a file is being written: a piece either runs while the caller
// waits for it, or is started ahead of need and waited for when its result is wanted, so that
// the next frame is decoded while the window shows the current one. The thread runs at the
// caller's priority: below it, any other program busy on the machine would starve the decoding
// and the whole job with it.
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace trimora {

class BackgroundDecoder {
public:
    BackgroundDecoder() = default;
    // Waits for the piece running, if any.
    ~BackgroundDecoder();
    BackgroundDecoder(const BackgroundDecoder&) = delete;
    BackgroundDecoder& operator=(const BackgroundDecoder&) = delete;

    // Runs `work` on the thread (started on first use) and returns when it is done; what it
    // throws is thrown here.
    void Run(std::function<void()> work);
    // Starts `work` on the thread and returns at once; the piece started before must have been
    // waited for.
    void Start(std::function<void()> work);
    // Waits for the piece started last; what it threw is thrown here, once. Returns at once when
    // none runs.
    void Wait();

private:
    void Loop();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> work_;
    bool pending_ = false;  // a piece was started and not yet waited for (the caller's side)
    bool done_ = true;
    bool stopping_ = false;
    std::exception_ptr failure_;
};

}  // namespace trimora
