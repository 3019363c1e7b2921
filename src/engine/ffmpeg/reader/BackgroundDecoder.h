#pragma once
// A thread of the reader's own, below normal priority, that runs one piece of the reader's work
// at a time while the caller waits for it. The reader hands it the decoding while a file is
// being written: the caller's thread stays at its priority (it is the window's), and the
// decoding takes a core only when the encoder's threads leave one. When the encoder waits for
// pictures its threads sleep, and the decoding has the processor to itself again.
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
    ~BackgroundDecoder();
    BackgroundDecoder(const BackgroundDecoder&) = delete;
    BackgroundDecoder& operator=(const BackgroundDecoder&) = delete;

    // Runs `work` on the thread (started on first use) and returns when it is done; what it
    // throws is thrown here.
    void Run(const std::function<void()>& work);

    // The priority the thread asked for was granted (tests).
    bool Lowered() const { return lowered_; }

private:
    void Loop();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    const std::function<void()>* work_ = nullptr;
    bool done_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    bool lowered_ = false;
};

}  // namespace trimora
