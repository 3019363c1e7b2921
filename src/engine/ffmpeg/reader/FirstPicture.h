#pragma once
// The first picture of the video, decoded on a thread of its own from the packets the opening
// pass reads, while that pass reads on. A long file read packet by packet then opens in the time
// its reading takes: the first picture (which costs a tenth of a second at a camera's bit rate)
// is ready when the reading ends.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "engine/FfmpegUtil.h"

namespace trimora {

class FirstPicture {
public:
    // Starts the thread, which opens a decoder for `stream` as the reader's own opens it.
    explicit FirstPicture(const AVStream* stream);
    // Stops the decoding where it is (an open cancelled or failed) and waits for the thread.
    ~FirstPicture();
    FirstPicture(const FirstPicture&) = delete;
    FirstPicture& operator=(const FirstPicture&) = delete;

    // The next video packet in file order and its decode index (its place among the video
    // packets); false once no more are wanted (a picture came out, or the decoding gave up).
    bool Offer(const AVPacket& packet, int64_t decodeIndex);

    struct Result {
        ff::FramePtr picture;
        int64_t packet = -1;      // decode index of the packet it came from
        double cpuSeconds = 0;    // processor time the decoder spent until it came out
    };
    // Once the packets have all been offered: waits for the decoding and gives the first picture
    // the decoder put out, if one came out. A packet that decodes to nothing, a damaged one, or
    // more packets than a start of a stream is made of without a picture: none.
    std::optional<Result> Take();

private:
    void Run();
    void Decode(AVCodecContext* codec, AVPacket* packet, AVFrame* frame);

    AVCodecParameters* parameters_ = nullptr;  // a copy: the demuxer may change its own meanwhile
    AVRational timeBase_{1, 1};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<ff::PacketPtr, int64_t>> queue_;
    size_t queuedBytes_ = 0;
    int64_t offered_ = 0;
    bool ended_ = false;     // the reading has ended: every packet was offered
    bool cut_ = false;       // no more packets are taken, though the reading goes on
    bool finished_ = false;  // the thread wants no more (picture out or given up)
    std::optional<Result> result_;
    std::thread thread_;
};

}  // namespace trimora
