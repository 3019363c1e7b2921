#pragma once
// The sound side of the reader: its own demuxer on the input, the decoder, conversion to
// interleaved 16-bit at the input's own rate and channel count, and a queue of converted
// samples placed on the input's time line. Sample positions count from the input's time zero
// (the start of the first video frame), so a seek lands on the exact sample.
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "engine/FfmpegUtil.h"
#include "engine/MediaTypes.h"
#include "engine/ffmpeg/reader/InputFile.h"

namespace trimora {

class AudioDecoder {
public:
    // Opens a fresh demuxer on the same file, standing at its start.
    using Reopen = std::function<ff::InputContextPtr()>;
    // The sound's own demuxer, standing at the start of the file, and its sound stream.
    struct Input {
        ff::InputContextPtr input;
        int streamIndex = -1;
    };
    // `stream` is the sound as the file's first demuxer describes it: the decoder opens from it
    // here. The demuxer it reads through may still be opening (a long file's tables take a while):
    // it is waited for when the first block is read, and its failure is that read's.
    // `zeroTime` is the input's time zero, `firstTime` the first sound packet's time and `endTime`
    // the end of the last one (AV_NOPTS_VALUE when unknown), all in the stream's time base.
    // `name` names the file in error messages. The sound is given out at `rate` with `layout`'s
    // channels, whatever each part of it holds.
    void Open(std::future<Input> input, const AVStream* stream, int64_t zeroTime, int64_t firstTime, int64_t endTime,
              Reopen reopen, std::string name, int rate, const AVChannelLayout& layout);
    void Close();
    bool IsOpen() const { return codec_ != nullptr; }

    // Where the sound's stamps lie on the input's time line when the file's clock restarts or
    // jumps (the video's index knows where); all values in the sound stream's time base.
    struct TimeLine {
        // Where a stamp read at byte position `pos` (-1 unknown), near `expected` on the time
        // line, lies on it, and where the part of the time line it lies in ends (INT64_MAX:
        // never): sound beyond that has no pictures, the next part's go there.
        struct Placed {
            int64_t line = 0;
            int64_t partEnd = INT64_MAX;
        };
        std::function<Placed(int64_t stamp, int64_t pos, int64_t expected)> toLine;
        // The stamp at a time on the line, and a byte position to read from to get there.
        std::function<int64_t(int64_t line)> toStamp;
        std::function<int64_t(int64_t line)> positionBefore;
    };
    void SetTimeLine(TimeLine timeLine) { timeLine_ = std::move(timeLine); }
    // The container ids of the streams that carry the sound on after programme changes.
    void SetFollowers(std::vector<int> streamIds) { followers_ = std::move(streamIds); }

    int SampleRate() const { return rate_; }
    int Channels() const { return channels_; }

    // The next block starts at `sample` (counted from time zero).
    void SeekTo(int64_t sample);
    // Up to `sampleFrames` sample frames; 0: what one decoded packet gives. Empty at the end.
    void Read(int32_t sampleFrames, AudioBlock& block);
    // The sample the next block starts with.
    int64_t Position() const { return position_; }

private:
    void OpenDecoder(const AVStream* stream);
    void TakePending();
    void Reposition(int attempt);
    bool SeekNear(int64_t sample);
    void Rewind();
    // A demuxer opened anew, which stands at the start of the file.
    void TakeFreshInput();
    void TakeInput(ff::InputContextPtr input);
    bool ReadPacket();
    void CheckComplete() const;
    bool DecodeMore();
    void Append(const AVFrame& frame);
    void Drop(int64_t sampleFrames);
    int64_t Queued() const { return static_cast<int64_t>(queue_.size() - queueRead_) / channels_; }

    std::future<Input> pending_;   // the demuxer, while it is still to be taken
    AVRational timeBase_{0, 1};    // the stream's, as it was opened
    ff::InputContextPtr input_;
    Reopen reopen_;
    std::string name_;
    int streamIndex_ = -1;
    AVStream* stream_ = nullptr;
    ff::CodecContextPtr codec_;
    ff::SwrPtr resampler_;
    ff::PacketPtr packet_;
    ff::FramePtr frame_;
    AVChannelLayout outLayout_{};
    AVChannelLayout resamplerInLayout_{};
    int resamplerInFormat_ = -1;
    int resamplerInRate_ = 0;
    bool byteSeek_ = false;
    int rate_ = 0;
    int channels_ = 0;
    int64_t zeroTime_ = 0;
    int64_t firstSample_ = 0;      // where the stream's first packet lies on the time line
    int64_t endSample_ = -1;       // where its last packet ends, -1 when unknown
    int undecodable_ = 0;          // packets in a row the decoder refused
    bool lost_ = false;            // a packet was refused since the last decoded frame
    bool coarseTimes_ = false;     // a time base tick is longer than a sample
    int steadyFrameSamples_ = 0;   // length of every decoded frame so far, -1 when they differ

    TimeLine timeLine_;            // empty: the stamps are the time line
    std::vector<int> followers_;   // see SetFollowers
    StreamChain chain_;            // the stream read and its followers
    int64_t lineShift_ = INT64_MIN;  // time line minus stamp of the latest frame (INT64_MIN: none)

    std::vector<int16_t> queue_;   // converted samples, interleaved
    size_t queueRead_ = 0;         // first undelivered value in queue_
    int64_t position_ = 0;         // time line sample of the next delivered sample frame
    int64_t queueEnd_ = 0;         // time line sample just after the queued ones
    bool needSeek_ = false;
    bool syncing_ = true;          // the next decoded frame is placed by its timestamp exactly
    bool realigning_ = false;      // the same after the file's clock restarted
    int64_t frameEnd_ = INT64_MIN; // where the frame placed last ends by its time
    int64_t partEnd_ = INT64_MAX;  // where the part of the time line of the frame stamped last ends
    // The ways to a place: seeking near it (attempts 0 to 3, from further back each time), seeking
    // to the start, a fresh demuxer. From kRewindAttempt on the sound is read from its start.
    static constexpr int kRewindAttempt = 4;
    static constexpr int kFreshAttempt = 5;
    int seekAttempt_ = kFreshAttempt;
    bool heardSinceSeek_ = false;  // a frame was decoded since the last seek
    int64_t passBefore_ = AV_NOPTS_VALUE;  // packets stamped before it are passed over undecoded
    bool flushed_ = false;
    bool ended_ = false;
};

}  // namespace trimora
