#pragma once
// The video side of the reader: its own demuxer on the input, the decoder, and the packet
// counting that ties what the demuxer returns to the index. Every packet sent to the decoder
// carries its decode index as its timestamp, so each picture that comes out names its frame
// whatever reordering the codec does.
#include <cstdint>
#include <deque>
#include <vector>

#include "engine/FfmpegUtil.h"
#include "engine/ffmpeg/reader/FrameIndex.h"
#include "engine/ffmpeg/reader/InputFile.h"
#include "engine/ffmpeg/reader/PackedBFrames.h"

namespace trimora {

// Processor time of the calling thread, in seconds.
double ThreadCpuSeconds();

class VideoDecoder {
public:
    // Takes the demuxer; `index` must outlive this object.
    void Open(ff::InputContextPtr input, int streamIndex, const FrameIndex* index);
    // The container ids of the streams that carry the video on after programme changes, in
    // order (their packets are in the index).
    void SetFollowers(std::vector<int> streamIds);
    void Close();
    bool IsOpen() const { return codec_ != nullptr; }

    // Places the demuxer at packet `decodeIndex` (a keyframe, or 0) and empties the decoder.
    void StartAt(int64_t decodeIndex);
    bool Started() const { return started_; }
    // The packet the latest StartAt() began with.
    int64_t StartPacket() const { return startPacket_; }

    // The next decoded picture and its frame number, nullptr at the end of the stream. The
    // picture stays valid until the next call.
    AVFrame* Next(int32_t& frameNumber);
    // Makes the picture last returned by Next() come back from the next call.
    void PutBack() { putBack_ = true; }
    bool PictureWaiting() const { return putBack_; }
    // Decode index of the packet the picture last returned by Next() came from, -1 unknown.
    int64_t LastPacket() const { return lastPacket_; }
    // The frame number the next call of Next() is expected to give.
    int32_t ExpectedNext() const;

    // Pictures of frames up to `frame` will be thrown away: the decoder may skip the ones that
    // nothing else refers to.
    void SkipDisposableUpTo(int32_t frame) { skipUpTo_ = frame; }

    // Pictures put out by the decoder, over every file this object has opened.
    int64_t PicturesDecoded() const { return picturesDecoded_; }
    // Whether the pictures measured so far (on one thread) ask for the decoder's own threads:
    // they are taken at the next StartAt().
    bool WantsThreads() const;
    // What the file's first picture cost another decoder on one thread (decoded while the file
    // was read at its opening): measured as if it had been this decoder's first.
    void NoteFirstPicture(double cpuSeconds) { firstPictureSeconds_ = cpuSeconds; }

private:
    void OpenCodec();
    AVFrame* Decode(int32_t& frameNumber);
    bool ReadPacket();
    // True when the packet's MPEG-1/2 sequence header names another picture size than the last.
    bool NewPictureSize(const AVPacket& packet);
    // Reads the next packet of the video stream that the index knows; nextPacket_ is its number.
    bool ReadIndexedPacket(AVPacket* packet);
    // Where the stream has just moved on to a follower (`first`, whose packet came first) while
    // packets of the stream `id` before it are still due: reads those (the demuxer would give
    // them only at the end of the file) and queues them before `first`. False when none are due.
    bool TakeLateTail(AVPacket& first, int id);
    // A packet queued by TakeLateTail, moved into `p`.
    bool TakeQueued(AVPacket* p);
    // Ways to the packet: by time near it, then from the start of the file.
    static constexpr int kAttemptsByTime = 3;
    static constexpr int kAttemptsFromStart = 4;
    bool TrySeek(int attempt, int64_t decodeIndex);

    ff::InputContextPtr input_;
    AVStream* stream_ = nullptr;
    StreamChain chain_;
    std::deque<ff::PacketPtr> queued_;  // see TakeLateTail
    ff::CodecContextPtr codec_;
    ff::PacketPtr packet_;
    ff::FramePtr frame_;
    const FrameIndex* index_ = nullptr;
    BFrameUnpacker unpacker_;  // open where the index describes the unpacked packets
    bool byteSeek_ = false;
    bool started_ = false;
    bool packetWaiting_ = false;  // packet_ holds the start packet, not yet sent
    bool flushed_ = false;
    bool drainingForNewSize_ = false;  // flushed_ to let out the pictures of the old size
    bool codecChange_ = false;         // ... or codec: a decoder for `decoding_` opens next
    const AVStream* decoding_ = nullptr;  // the stream the decoder was opened for (nullptr: stream_)
    uint32_t sequenceSize_ = 0;       // MPEG-1/2: width << 12 | height of the last sequence header, 0 unknown
    bool atEnd_ = false;
    bool putBack_ = false;
    int64_t nextPacket_ = -1;     // decode index of the next packet read, -1 until recognised
    int32_t lastOutput_ = 0;
    int64_t lastPacket_ = -1;
    int64_t startPacket_ = 0;
    int32_t skipUpTo_ = 0;
    int64_t picturesDecoded_ = 0;
    bool threaded_ = false;
    double measuredSeconds_ = 0;  // processor time of the pictures decoded on one thread
    int64_t measuredPictures_ = 0;
    int64_t openedAt_ = 0;        // picturesDecoded_ when the decoder was opened
    double firstPictureSeconds_ = 0;
};

}  // namespace trimora
