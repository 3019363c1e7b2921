#pragma once
// Small helpers shared by the reader tests: reading a whole stream through the reader.
#include <cstdint>
#include <vector>

#include "engine/FrameBuffer.h"
#include "engine/ffmpeg/reader/FfmpegReader.h"
#include "support/TestClips.h"

namespace trimora::test {

struct Delivered {
    std::vector<int> stamps;        // stamp read from each picture
    std::vector<int> numbers;       // CurrentFrameNumber() after each read
    std::vector<int> headerNumbers; // frame number written into each picture's header
};

// Reads video frames until the reader delivers none.
// An H.264 clip in MP4 with B-frames and a keyframe every `gop` frames.
inline ClipSpec H264Spec(int frames, int gop) {
    ClipSpec spec;
    spec.format = "mp4";
    spec.frames = frames;
    spec.gop = gop;
    spec.bFrames = true;
    return spec;
}

inline Delivered ReadAllFrames(FfmpegReader& reader) {
    Delivered d;
    FrameData frame;
    for (;;) {
        reader.ReadNextVideoFrame(frame);
        if (frame.empty()) break;
        d.stamps.push_back(ReadStamp(frame));
        d.numbers.push_back(reader.CurrentFrameNumber());
        const auto view = ViewFrame(frame);
        d.headerNumbers.push_back(view ? view->header.frameNumber : -1);
    }
    return d;
}

// Reads sound blocks until the reader delivers none; interleaved samples.
inline std::vector<int16_t> ReadAllSound(FfmpegReader& reader, int32_t blockSize, int* blocks = nullptr) {
    std::vector<int16_t> all;
    AudioBlock block;
    int count = 0;
    for (;;) {
        reader.ReadNextAudioBlock(blockSize, block);
        if (block.empty()) break;
        ++count;
        const auto* s = reinterpret_cast<const int16_t*>(block.data());
        all.insert(all.end(), s, s + block.size() / 2);
    }
    if (blocks) *blocks = count;
    return all;
}

inline std::vector<int16_t> Samples(const AudioBlock& block) {
    const auto* s = reinterpret_cast<const int16_t*>(block.data());
    return std::vector<int16_t>(s, s + block.size() / 2);
}

}  // namespace trimora::test
