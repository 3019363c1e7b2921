#pragma once
// Feeding the writer as a cut does: stamped frames and pattern sound, interleaved by time,
// sound in blocks of 2304 sample frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/ffmpeg/writer/FfmpegWriter.h"
#include "support/TestClips.h"

namespace trimora::test {

struct Feed {
    int width = 176;
    int height = 144;
    double frameRate = 25;
    int frames = 50;
    int firstFrame = 1;        // stamp and number of the first frame appended
    bool audio = true;
    int sampleRate = 48000;
    int channels = 2;
    int pixelFormat = -1;      // AVPixelFormat of the frames; -1 yuv420p
    int aspectNum = 0;         // the pixels' aspect; 0: not said (square)
    int aspectDen = 1;
    int blockSize = 2304;
};

inline int FrameTimeMs(const Feed& feed, int number) {
    return static_cast<int>(std::lround((number - 1) * 1000.0 / feed.frameRate));
}

// Appends the feed's frames and sound, whichever stream is behind first. The sound starts at
// the first frame's time and lasts as long as the frames do.
inline void AppendFeed(FfmpegWriter& writer, const Feed& feed) {
    const int64_t firstSample = std::llround((feed.firstFrame - 1) * feed.sampleRate / feed.frameRate);
    const int64_t endSample = std::llround((feed.firstFrame - 1 + feed.frames) * feed.sampleRate / feed.frameRate);
    int next = feed.firstFrame;
    int64_t sample = firstSample;
    const int last = feed.firstFrame + feed.frames - 1;
    while (next <= last || (feed.audio && sample < endSample)) {
        const double videoMs = (next - 1) * 1000.0 / feed.frameRate;
        const double audioMs = sample * 1000.0 / feed.sampleRate;
        if (next <= last && (!feed.audio || sample >= endSample || videoMs <= audioMs)) {
            FrameData frame = MakeStampedFrame(feed.width, feed.height, next, FrameTimeMs(feed, next), feed.pixelFormat);
            if (feed.aspectNum > 0)
                frame = WithHeader(frame, [&](FrameHeader& h) {
                    h.sampleAspectNum = feed.aspectNum;
                    h.sampleAspectDen = feed.aspectDen;
                });
            writer.AppendVideoFrame(frame);
            ++next;
        } else {
            const int count = static_cast<int>(std::min<int64_t>(feed.blockSize, endSample - sample));
            writer.AppendAudioBlock(MakePatternBlock(sample, count, feed.sampleRate, feed.channels));
            sample += count;
        }
    }
}

// Creates the file, appends the whole feed and closes it.
inline void WriteFeed(FfmpegWriter& writer, const Feed& feed, const std::string& path, int32_t containerKind) {
    writer.CreateOutputFile(path, containerKind);
    AppendFeed(writer, feed);
    writer.Close();
}

inline void DescribeInput(FfmpegWriter& writer, const Feed& feed) {
    writer.CopyVideoFormat(feed.width, feed.height, feed.frameRate);
    if (feed.audio) writer.CopyAudioFormat(feed.sampleRate, feed.channels);
    writer.SetHasVideo(true);
    writer.SetHasAudio(feed.audio);
}

inline std::vector<int> Range(int first, int last) {
    std::vector<int> numbers;
    for (int n = first; n <= last; ++n) numbers.push_back(n);
    return numbers;
}

// The input frame (numbered from 1) that output frame `index` shows after a frame-rate change:
// the one on screen at the middle of the output frame's period.
inline int FrameOnScreen(size_t index, double outputFps, double inputFps) {
    return static_cast<int>(std::floor((static_cast<double>(index) + 0.5) / outputFps * inputFps + 1e-9)) + 1;
}

// The number of the catalog entry using `encoder`, 0 when it is not listed.
inline int16_t CodecNumber(FfmpegWriter& writer, const std::string& displayNamePart) {
    for (int16_t n = 1; n <= writer.AviCodecCount(); ++n) {
        writer.SelectAviCodec(n);
        if (writer.SelectedAviCodecName().find(displayNamePart) != std::string::npos) return n;
    }
    return 0;
}

// Every click of the written sound sits on the frame it was made with: the click at second s
// came with the frame shown at s, so that frame's position in the file, in output frames, must
// be within one frame of the click's time.
inline void ExpectClicksOnTheirFrames(const std::string& path, const std::vector<int>& stamps, double outputFps,
                                      const Feed& feed, int expectedClicks) {
    int rate = 0, channels = 0;
    const std::vector<int16_t> sound = DecodeAudio(path, &rate, &channels);
    const std::vector<double> clicks = FindClicks(sound, channels, rate);
    std::string found;
    for (const double click : clicks) found += " " + std::to_string(click);
    ASSERT_EQ(static_cast<int>(clicks.size()), expectedClicks) << path << ": clicks at" << found;
    for (size_t i = 0; i < clicks.size(); ++i) {
        const double firstWhole = std::ceil((feed.firstFrame - 1) / feed.frameRate - 1e-9);
        const int stamp = static_cast<int>(std::lround((firstWhole + static_cast<double>(i)) * feed.frameRate)) + 1;
        // A lower output rate may leave the click's own frame out: then the next one shown.
        const auto found = std::find_if(stamps.begin(), stamps.end(), [stamp](int shown) { return shown >= stamp; });
        ASSERT_NE(found, stamps.end()) << "frame " << stamp << " is missing from " << path;
        const double frameTime = static_cast<double>(found - stamps.begin()) / outputFps;
        EXPECT_NEAR(clicks[i], frameTime, 1.0 / outputFps + 0.002)
            << "click " << i << " of " << path << " is off its frame " << stamp;
    }
}

}  // namespace trimora::test
