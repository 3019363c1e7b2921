#pragma once
// Plays interleaved 16-bit PCM blocks in the format given by SetPlaybackFormat. Amounts are
// bytes of that format (the unit of an AudioBlock's size). Events reach the window as queued
// calls on the UI thread.
#include <cstdint>

#include "engine/MediaTypes.h"

namespace trimora {

class AudioPlayerEvents {
public:
    virtual ~AudioPlayerEvents() = default;
    virtual void AudioPlayer_EndArrayPlay() = 0;  // one queued block has finished playing
    virtual void AudioPlayer_EndPlay() = 0;       // the queue ran dry after BeginPlaying
};

class AudioPlayer {
public:
    virtual ~AudioPlayer() = default;
    virtual void SetEventHandler(AudioPlayerEvents* handler) = 0;

    virtual int16_t NumberOfDevices() = 0;
    virtual void SelectDevice(int32_t device) = 0;
    virtual void SetFirstSetupValue(int32_t value) = 0;   // volume: low word left, high word right
    virtual void SetSecondSetupValue(int32_t value) = 0;  // device buffer target in ms
    virtual void SetPlaybackFormat(int32_t sampleRate, int32_t channels) = 0;
    virtual void FollowUp(int32_t value) = 0;

    virtual int32_t AmountForDuration(int32_t milliseconds) = 0;
    virtual int32_t DurationOfAmount(int32_t amount) = 0;
    virtual int64_t QueuedCounter() = 0;
    virtual int64_t PlayedCounter() = 0;

    virtual void BeginPlaying() = 0;
    virtual void QueueBlock(const AudioBlock& block) = 0;
    virtual void Stop() = 0;
};

}  // namespace trimora
