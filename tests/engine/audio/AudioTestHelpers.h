#pragma once
// Shared pieces of the audio player tests: choosing SDL's driver for one test, recording the
// player's events, waiting for the device with a bound, and sound whose every sample is known.
#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/AudioPlayer.h"
#include "engine/MediaTypes.h"

#include "support/ScopedEnv.h"

namespace trimora::audiotest {

using test::ScopedEnv;

// Counts events and notes whether each arrived on the UI thread. Optional reactions let a test
// drive the player from its events, as the window does.
class RecordingHandler : public AudioPlayerEvents {
public:
    void AudioPlayer_EndArrayPlay() override {
        ++endArrayPlay;
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++offUiThread;
        if (onEndArrayPlay) onEndArrayPlay();
    }
    void AudioPlayer_EndPlay() override {
        ++endPlay;
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++offUiThread;
        if (onEndPlay) onEndPlay();
    }
    int endArrayPlay = 0;
    int endPlay = 0;
    int offUiThread = 0;
    std::function<void()> onEndArrayPlay;
    std::function<void()> onEndPlay;
};

// Processes window events until the condition holds or the bound passes; returns the condition.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds bound = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Lets queued calls run for a while without waiting on anything in particular.
inline void ProcessEventsFor(std::chrono::milliseconds span) {
    WaitFor([] { return false; }, span);
}

inline int16_t SampleAt(const AudioBlock& sound, size_t index) {
    int16_t sample;
    std::memcpy(&sample, sound.data() + index * 2, 2);
    return sample;
}

// Interleaved 16-bit sound in which no sample is 0 and neighbouring samples differ, so that
// silence, a gap, a repeat or a swap shows up when the played bytes are compared. firstFrame
// continues the sequence of an earlier call.
inline AudioBlock PatternSound(size_t frames, int channels, uint32_t seed, size_t firstFrame = 0) {
    AudioBlock sound(frames * static_cast<size_t>(channels) * 2);
    for (size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            uint32_t x = static_cast<uint32_t>((firstFrame + f) * 131 + static_cast<size_t>(c)) * 2654435761u ^ seed;
            x ^= x >> 15;
            auto sample = static_cast<int16_t>(x & 0xFFFF);
            if (sample == 0) sample = 1;
            std::memcpy(sound.data() + (f * static_cast<size_t>(channels) + static_cast<size_t>(c)) * 2, &sample, 2);
        }
    }
    return sound;
}

inline std::vector<AudioBlock> SplitIntoBlocks(const AudioBlock& sound, int channels,
                                               const std::vector<size_t>& framesPerBlock) {
    std::vector<AudioBlock> blocks;
    size_t at = 0;
    const size_t frameBytes = static_cast<size_t>(channels) * 2;
    for (size_t i = 0; at < sound.size(); ++i) {
        const size_t bytes = std::min(framesPerBlock[i % framesPerBlock.size()] * frameBytes, sound.size() - at);
        blocks.emplace_back(sound.begin() + static_cast<std::ptrdiff_t>(at),
                            sound.begin() + static_cast<std::ptrdiff_t>(at + bytes));
        at += bytes;
    }
    return blocks;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the disk driver wrote: the silence before the sound, and the sound itself from the
// first frame holding a non-zero sample to the last such frame (silence inside stays in).
struct DiskRecording {
    size_t leadingBytes = 0;
    std::vector<uint8_t> sound;
};

inline DiskRecording SplitRecording(const std::vector<uint8_t>& file, int deviceChannels) {
    const size_t frameBytes = static_cast<size_t>(deviceChannels) * 2;
    const size_t frames = file.size() / frameBytes;
    auto frameIsSilent = [&](size_t f) {
        for (size_t b = 0; b < frameBytes; ++b)
            if (file[f * frameBytes + b] != 0) return false;
        return true;
    };
    DiskRecording result;
    size_t first = 0;
    while (first < frames && frameIsSilent(first)) ++first;
    size_t last = frames;
    while (last > first && frameIsSilent(last - 1)) --last;
    result.leadingBytes = first * frameBytes;
    result.sound.assign(file.begin() + static_cast<std::ptrdiff_t>(first * frameBytes),
                        file.begin() + static_cast<std::ptrdiff_t>(last * frameBytes));
    return result;
}

}  // namespace trimora::audiotest
