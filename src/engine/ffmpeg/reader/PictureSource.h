#pragma once
// The pictures of the video, by frame number: the decoder, and the frames kept from earlier
// reads so that going back to one costs no decoding from the previous keyframe. Three kinds are
// kept apart, each with its own budget: the frames decoded on the way to a seek's target (what
// a step back asks for next), the latest frames read in order, and the frames the latest seeks
// landed on (the marks' frames, shown again at the end of a job).
#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/FfmpegUtil.h"
#include "engine/FrameBuffer.h"
#include "engine/ffmpeg/reader/FrameCache.h"
#include "engine/ffmpeg/reader/FrameIndex.h"
#include "engine/ffmpeg/reader/VideoDecoder.h"

namespace trimora {

class PictureSource {
public:
    // Makes the frame handed out for a picture of the decoder.
    using Publish = std::function<FrameData(const AVFrame& picture, int32_t frameNumber)>;

    PictureSource(size_t cacheBytes, Publish publish);

    // Takes the demuxer; `index` must outlive the decoding. `pictureBytes`: what one picture
    // holds, for the caches' budgets.
    void Open(ff::InputContextPtr input, int streamIndex, const FrameIndex* index, size_t pictureBytes);
    void Close();
    VideoDecoder& Decoder() { return video_; }

    // Frame `wanted` as kept from earlier reads: handed out into `out` (unless nullptr) and true,
    // or false when it must be decoded. `landing`: a seek landed on it.
    bool TakeKept(int32_t wanted, bool landing, FrameData* out);
    // Decodes until frame `wanted` comes out. Returns the number of the frame taken (which is
    // `wanted` unless the stream lacks it), 0 at the end. The picture is handed out into `out`
    // unless `out` is nullptr; `dropping`: it will be thrown away; `landing`: a seek landed on
    // it, kept among the landings.
    int32_t DecodeUntil(int32_t wanted, bool dropping, bool landing, FrameData* out);

    // Takes `picture`, decoded elsewhere exactly as this decoder would decode it, as frame
    // `number`, kept as if it had been read; `cpuSeconds`: what it cost on one thread.
    void Adopt(int32_t number, const AVFrame& picture, double cpuSeconds);

    // Pictures the decoder has put out since this object was made: the decoding work done.
    int64_t PicturesDecoded() const { return video_.PicturesDecoded(); }

private:
    bool DecodeForwardIsCheaper(int32_t wanted) const;
    void StartDecodingAt(int64_t decodeIndex);
    // Keeps the latest picture decoded, to fill the place of one that cannot be decoded.
    void Hold(const AVFrame& picture);
    // Hands `picture` out as frame `number` (into `out` unless it is nullptr).
    void Deliver(int32_t number, const AVFrame& picture, bool landing, FrameData* out);

    Publish publish_;
    const FrameIndex* index_ = nullptr;
    size_t pictureBytes_ = 0;
    VideoDecoder video_;
    FrameCache cache_;           // frames decoded on the way to a seek's target
    FrameCache recent_;          // the latest frames read in order
    FrameCache landings_;        // the frames the latest seeks landed on
    ff::FramePtr held_;          // the latest picture of this decoding run, empty after a restart
    int32_t lastDelivered_ = 0;  // the frame handed out last, to tell steps back from jumps
};

}  // namespace trimora
