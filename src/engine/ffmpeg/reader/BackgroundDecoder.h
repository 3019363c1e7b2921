#pragma once
// A thread of the reader's own, below normal priority, that runs one piece of the reader's work
// at a time. The reader hands it the decoding while a file is being written: the caller's thread
// stays at its priority (it is the window's), and the decoding takes a core only when the
// encoder's threads leave one. When the encoder waits for pictures its threads sleep, and the
// decoding has the processor to itself again. A piece either runs while the caller waits for
// it, or is started ahead of need and waited for when its result is wanted.
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace trimora {

class BackgroundDecoder {
public:
    // How much lower than normal (a nice value) the thread runs.
    static constexpr int kNiceness = 10;

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
    bool Busy() const { return pending_; }

    // The priority the thread asked for was granted (tests).
    bool Lowered() const { return lowered_; }

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
    bool lowered_ = false;
};

}  // namespace trimora
