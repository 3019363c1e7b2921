#pragma once
// The sound output: plays queued blocks of interleaved signed 16-bit PCM through an SDL2 audio
// device.
//
// How it is driven
// - NumberOfDevices() initialises SDL's audio subsystem on first use and counts its output
//   devices; without a usable driver or card it answers 0.
// - SelectDevice(n): n = 0 is the system's default output; n > 0 the entry at index n of SDL's
//   device list (which counts from 0, like NumberOfDevices).
// - SetFirstSetupValue(v): the volume, in the manner of a classic wave-out volume: the low word
//   is the left level, the high word the right level, 0 silent and 0xFFFF full. A value whose
//   high word is 0 is a single level for every channel, so 0xFFFF means full on both sides
//   (a one-word volume must not mute the right channel). Channel 0 follows the left level,
//   channel 1 the right level, every further channel (centre, LFE, surround) their mean.
// - SetSecondSetupValue(ms): how much sound the device holds at a time, in milliseconds; the
//   device's buffer is the largest power of two of sample frames not above that duration (at
//   least 64 frames, at most 1000 ms). Default 50 ms; 0 or less is refused.
// - SetPlaybackFormat(rate, channels) and FollowUp(value) only record the format; the device
//   opens when playing begins. A rate of 0 (an input without sound) clears the format, and
//   neither call ever needs a device. FollowUp has nothing left to do and ignores its value.
//
// Playing
// - Blocks are in the recorded format at the input's own rate and channel count. The device is
//   opened with exactly that format and SDL converts it to whatever the hardware takes, so sound
//   never plays at a wrong speed or pitch. More than 8 channels (beyond SDL's layouts) are
//   mixed down to stereo here.
// - QueueBlock before BeginPlaying keeps the block queued; BeginPlaying opens the device and
//   starts draining the queue. Blocks play in order, back to back.
// - Amounts (AmountForDuration, DurationOfAmount, the counters) are bytes of the recorded
//   format, the unit of an AudioBlock's size. QueuedCounter counts bytes queued and
//   PlayedCounter bytes played, both since the last Stop.
// - What has been played, as near as SDL lets us see it: the device asks for one buffer at a
//   time and plays it while it waits to ask for the next. So PlayedCounter is what the device
//   took before its latest request, plus as much of that request's sound as the time since
//   then covers (never more than it took). It rises steadily with the device's clock instead of
//   jumping a whole buffer ahead of what can be heard.
// - Stop closes the device, drops the queue and resets both counters.
//
// Events reach the handler as queued calls on the UI thread: EndArrayPlay once for each block
// the device has taken completely, and EndPlay when the queue runs dry after sound was played.
// Nothing raised before a Stop is delivered after it, and an EndPlay is dropped when more
// sound was queued before it could be delivered (the player is then playing again).
#include <SDL.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "engine/AudioPlayer.h"

class QObject;

namespace trimora {

class SdlAudioPlayer : public AudioPlayer {
public:
    SdlAudioPlayer();
    ~SdlAudioPlayer() override;
    SdlAudioPlayer(const SdlAudioPlayer&) = delete;
    SdlAudioPlayer& operator=(const SdlAudioPlayer&) = delete;

    void SetEventHandler(AudioPlayerEvents* handler) override;

    int16_t NumberOfDevices() override;
    void SelectDevice(int32_t device) override;
    void SetFirstSetupValue(int32_t value) override;
    void SetSecondSetupValue(int32_t value) override;
    void SetPlaybackFormat(int32_t sampleRate, int32_t channels) override;
    void FollowUp(int32_t value) override;

    int32_t AmountForDuration(int32_t milliseconds) override;
    int32_t DurationOfAmount(int32_t amount) override;
    int64_t QueuedCounter() override;
    int64_t PlayedCounter() override;

    void BeginPlaying() override;
    void QueueBlock(const AudioBlock& block) override;
    void Stop() override;

    // What the open device was given (all 0 while no device is open): the rate, the channel
    // count and sample format handed to SDL, and whether the player mixes down to stereo.
    struct DeviceFormat {
        int sampleRate = 0;
        int channels = 0;
        SDL_AudioFormat sampleFormat = 0;
        bool mixedToStereo = false;
    };
    DeviceFormat OpenDeviceFormat() const;

private:
    struct Block {
        AudioBlock bytes;
        size_t consumed = 0;
    };

    bool EnsureAudioSubsystem();
    void OpenDevice();
    void CloseDevice();
    double BytesPerSecond() const;

    static void SDLCALL AudioCallback(void* player, Uint8* stream, int length);
    void FillDevice(Uint8* stream, int length);
    size_t TakeQueued(Uint8* target, size_t wanted, int& finishedBlocks);
    size_t TakeMixedToStereo(Uint8* target, size_t wanted, int& finishedBlocks);
    void ApplyVolume(Uint8* stream, size_t bytes, int channels, uint16_t left, uint16_t right) const;

    void PostEndArrayPlay(uint64_t generation, int count);
    void PostEndPlay(uint64_t generation, int64_t queuedWhenDry);

    // Owned and touched only by the UI thread.
    std::unique_ptr<QObject> eventTarget_;
    AudioPlayerEvents* handler_ = nullptr;
    bool audioInitialised_ = false;
    int32_t selectedDevice_ = 0;
    int32_t bufferMilliseconds_ = 50;
    SDL_AudioDeviceID device_ = 0;
    // Written only while no device thread runs; the callback reads it.
    DeviceFormat deviceFormat_;

    // Shared with the device's callback thread, guarded by mutex_. The callback only copies
    // bytes and counts; it never calls into SDL or the handler while holding the lock.
    mutable std::mutex mutex_;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    uint16_t volumeLeft_ = 0xFFFF;
    uint16_t volumeRight_ = 0xFFFF;
    std::deque<Block> queue_;
    int64_t queued_ = 0;
    int64_t played_ = 0;          // bytes the device has taken
    int64_t lastTaken_ = 0;       // of which taken at its latest request
    std::chrono::steady_clock::time_point lastRequest_;
    uint64_t generation_ = 0;
    bool playedSinceDry_ = false;
};

}  // namespace trimora
