#include "engine/audio/SdlAudioPlayer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/EngineError.h"

namespace trimora {

namespace {

constexpr int kBytesPerSample = 2;
constexpr int kMostDeviceChannels = 8;  // SDL2 has layouts for 1 to 8 channels
constexpr int32_t kLongestBufferMilliseconds = 1000;
constexpr int kFewestBufferFrames = 64;

int32_t CheckedInt32(double value) {
    if (!(value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max()))
        throw EngineError("Overflow in the sound amount arithmetic");
    return static_cast<int32_t>(value);
}

// The largest power of two not above the wanted number of frames, within SDL's 16-bit field.
Uint16 BufferFrames(int sampleRate, int32_t milliseconds) {
    const int64_t wanted = std::max<int64_t>(kFewestBufferFrames, int64_t{sampleRate} * milliseconds / 1000);
    int64_t frames = kFewestBufferFrames;
    while (frames * 2 <= wanted && frames * 2 <= 32768) frames *= 2;
    return static_cast<Uint16>(frames);
}

int16_t ReadSample(const uint8_t* bytes) {
    int16_t sample;
    std::memcpy(&sample, bytes, sizeof sample);
    return sample;
}

void WriteSample(uint8_t* bytes, int32_t value) {
    const auto sample = static_cast<int16_t>(std::clamp<int32_t>(value, -32768, 32767));
    std::memcpy(bytes, &sample, sizeof sample);
}

}  // namespace

SdlAudioPlayer::SdlAudioPlayer() : eventTarget_(std::make_unique<QObject>()) {
    // Events must run on the UI thread whichever thread made the player.
    if (auto* app = QCoreApplication::instance()) eventTarget_->moveToThread(app->thread());
}

SdlAudioPlayer::~SdlAudioPlayer() {
    CloseDevice();
    // Deleting the target discards calls still waiting in the event queue.
    eventTarget_.reset();
    if (audioInitialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void SdlAudioPlayer::SetEventHandler(AudioPlayerEvents* handler) { handler_ = handler; }

bool SdlAudioPlayer::EnsureAudioSubsystem() {
    if (audioInitialised_) return true;
    // SDL must leave Ctrl+C and termination to the application: its own handlers would only
    // post quit events that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    audioInitialised_ = true;
    // Nobody pumps SDL's event queue here; don't let hot-plug notices pile up in it.
    SDL_EventState(SDL_AUDIODEVICEADDED, SDL_IGNORE);
    SDL_EventState(SDL_AUDIODEVICEREMOVED, SDL_IGNORE);
    return true;
}

int16_t SdlAudioPlayer::NumberOfDevices() {
    if (!EnsureAudioSubsystem()) return 0;
    const int count = SDL_GetNumAudioDevices(0);
    return static_cast<int16_t>(std::clamp(count, 0, int{std::numeric_limits<int16_t>::max()}));
}

void SdlAudioPlayer::SelectDevice(int32_t device) {
    const int count = NumberOfDevices();
    if (count == 0) throw EngineError("No sound output device is available");
    if (device < 0 || device >= count)
        throw EngineError("There is no sound output device number " + std::to_string(device));
    if (device != selectedDevice_) {
        Stop();
        selectedDevice_ = device;
    }
}

void SdlAudioPlayer::SetFirstSetupValue(int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    const auto left = static_cast<uint16_t>(bits & 0xFFFF);
    const auto right = static_cast<uint16_t>(bits >> 16);
    std::lock_guard lock(mutex_);
    volumeLeft_ = left;
    volumeRight_ = right == 0 ? left : right;
}

void SdlAudioPlayer::SetSecondSetupValue(int32_t value) {
    if (value <= 0) throw EngineError("The sound buffer length must be positive");
    // An open device keeps its buffer; the new length applies when it opens next.
    bufferMilliseconds_ = std::min(value, kLongestBufferMilliseconds);
}

void SdlAudioPlayer::SetPlaybackFormat(int32_t sampleRate, int32_t channels) {
    if (sampleRate <= 0 || channels <= 0) sampleRate = channels = 0;
    bool changed;
    {
        std::lock_guard lock(mutex_);
        changed = sampleRate != sampleRate_ || channels != channels_;
    }
    if (!changed) return;
    // Whatever is queued is in the old format and must not play in the new one.
    Stop();
    std::lock_guard lock(mutex_);
    sampleRate_ = sampleRate;
    channels_ = channels;
}

void SdlAudioPlayer::FollowUp(int32_t) {}

double SdlAudioPlayer::BytesPerSecond() const {
    std::lock_guard lock(mutex_);
    return static_cast<double>(sampleRate_) * channels_ * kBytesPerSample;
}

int32_t SdlAudioPlayer::AmountForDuration(int32_t milliseconds) {
    const double bytesPerSecond = BytesPerSecond();
    return CheckedInt32(std::round(static_cast<double>(milliseconds) * bytesPerSecond / 1000.0));
}

int32_t SdlAudioPlayer::DurationOfAmount(int32_t amount) {
    const double bytesPerSecond = BytesPerSecond();
    if (bytesPerSecond <= 0) return 0;
    return CheckedInt32(std::round(static_cast<double>(amount) * 1000.0 / bytesPerSecond));
}

int64_t SdlAudioPlayer::QueuedCounter() {
    std::lock_guard lock(mutex_);
    return queued_;
}

int64_t SdlAudioPlayer::PlayedCounter() {
    std::lock_guard lock(mutex_);
    if (lastTaken_ <= 0 || sampleRate_ <= 0) return played_;
    const int64_t frameBytes = int64_t{channels_} * kBytesPerSample;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - lastRequest_).count();
    const auto covered = static_cast<int64_t>(seconds * sampleRate_) * frameBytes;
    return played_ - lastTaken_ + std::min(lastTaken_, covered);
}

void SdlAudioPlayer::QueueBlock(const AudioBlock& block) {
    if (block.empty()) return;
    std::lock_guard lock(mutex_);
    if (sampleRate_ <= 0) throw EngineError("No sound format has been set for playing");
    const size_t frameBytes = static_cast<size_t>(channels_) * kBytesPerSample;
    if (block.size() % frameBytes != 0)
        throw EngineError("A sound block does not hold whole sample frames");
    queue_.push_back(Block{block, 0});
    queued_ += static_cast<int64_t>(block.size());
}

void SdlAudioPlayer::BeginPlaying() {
    {
        std::lock_guard lock(mutex_);
        // An input without sound has nothing to play.
        if (sampleRate_ <= 0) return;
    }
    if (device_ == 0) OpenDevice();
    SDL_PauseAudioDevice(device_, 0);
}

void SdlAudioPlayer::OpenDevice() {
    if (!EnsureAudioSubsystem() || SDL_GetNumAudioDevices(0) <= 0)
        throw EngineError("No sound output device is available");
    int32_t rate, channels;
    {
        std::lock_guard lock(mutex_);
        rate = sampleRate_;
        channels = channels_;
        playedSinceDry_ = false;
    }
    std::string name;
    if (selectedDevice_ > 0) {
        const char* listed = SDL_GetAudioDeviceName(selectedDevice_, 0);
        if (!listed) throw EngineError("The sound output device is no longer available");
        name = listed;
    }

    DeviceFormat format;
    format.sampleRate = rate;
    format.mixedToStereo = channels > kMostDeviceChannels;
    format.channels = format.mixedToStereo ? 2 : channels;
    format.sampleFormat = AUDIO_S16SYS;

    SDL_AudioSpec wanted{};
    wanted.freq = format.sampleRate;
    wanted.format = format.sampleFormat;
    wanted.channels = static_cast<Uint8>(format.channels);
    wanted.samples = BufferFrames(rate, bufferMilliseconds_);
    wanted.callback = &SdlAudioPlayer::AudioCallback;
    wanted.userdata = this;
    // The callback reads deviceFormat_; set it before SDL starts the device's thread.
    deviceFormat_ = format;
    SDL_AudioSpec obtained{};
    // No allowed changes: SDL converts our format to the hardware's, so the callback always
    // receives buffers in exactly the format of the blocks.
    const SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(), 0, &wanted, &obtained, 0);
    if (device == 0) {
        deviceFormat_ = DeviceFormat{};
        throw EngineError(std::string("The sound output device cannot be opened: ") + SDL_GetError());
    }
    device_ = device;
}

void SdlAudioPlayer::CloseDevice() {
    if (device_ == 0) return;
    // Closing waits for the callback thread to end; mutex_ must not be held here.
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    deviceFormat_ = DeviceFormat{};
}

void SdlAudioPlayer::Stop() {
    CloseDevice();
    std::lock_guard lock(mutex_);
    queue_.clear();
    queued_ = 0;
    played_ = 0;
    lastTaken_ = 0;
    playedSinceDry_ = false;
    ++generation_;
}

SdlAudioPlayer::DeviceFormat SdlAudioPlayer::OpenDeviceFormat() const { return deviceFormat_; }

void SDLCALL SdlAudioPlayer::AudioCallback(void* player, Uint8* stream, int length) {
    static_cast<SdlAudioPlayer*>(player)->FillDevice(stream, length);
}

void SdlAudioPlayer::FillDevice(Uint8* stream, int length) {
    const auto wanted = static_cast<size_t>(length);
    int finishedBlocks = 0;
    bool ranDry = false;
    uint64_t generation;
    int64_t queuedNow;
    uint16_t left, right;
    size_t filled;
    {
        std::lock_guard lock(mutex_);
        const int64_t playedBefore = played_;
        filled = deviceFormat_.mixedToStereo ? TakeMixedToStereo(stream, wanted, finishedBlocks)
                                             : TakeQueued(stream, wanted, finishedBlocks);
        lastTaken_ = played_ - playedBefore;
        lastRequest_ = std::chrono::steady_clock::now();
        if (filled > 0) playedSinceDry_ = true;
        if (queue_.empty() && playedSinceDry_) {
            ranDry = true;
            playedSinceDry_ = false;
        }
        generation = generation_;
        queuedNow = queued_;
        left = volumeLeft_;
        right = volumeRight_;
    }
    // Signed 16-bit silence is all zero bits.
    std::memset(stream + filled, 0, wanted - filled);
    ApplyVolume(stream, filled, deviceFormat_.channels, left, right);

    if (finishedBlocks > 0) PostEndArrayPlay(generation, finishedBlocks);
    if (ranDry) PostEndPlay(generation, queuedNow);
}

size_t SdlAudioPlayer::TakeQueued(Uint8* target, size_t wanted, int& finishedBlocks) {
    size_t filled = 0;
    while (filled < wanted && !queue_.empty()) {
        Block& front = queue_.front();
        const size_t count = std::min(wanted - filled, front.bytes.size() - front.consumed);
        std::memcpy(target + filled, front.bytes.data() + front.consumed, count);
        front.consumed += count;
        filled += count;
        played_ += static_cast<int64_t>(count);
        if (front.consumed == front.bytes.size()) {
            queue_.pop_front();
            ++finishedBlocks;
        }
    }
    return filled;
}

// Channel 0 goes left, channel 1 right, and every further channel to both sides; each side
// is the mean of what it receives so that the mix cannot clip.
size_t SdlAudioPlayer::TakeMixedToStereo(Uint8* target, size_t wanted, int& finishedBlocks) {
    const int channels = channels_;
    const size_t inputFrameBytes = static_cast<size_t>(channels) * kBytesPerSample;
    const size_t outputFrameBytes = 2 * kBytesPerSample;
    const int32_t sideWeight = channels - 1;
    size_t filled = 0;
    while (filled + outputFrameBytes <= wanted && !queue_.empty()) {
        Block& front = queue_.front();
        const uint8_t* frame = front.bytes.data() + front.consumed;
        int32_t shared = 0;
        for (int c = 2; c < channels; ++c) shared += ReadSample(frame + c * kBytesPerSample);
        WriteSample(target + filled, (ReadSample(frame) + shared) / sideWeight);
        WriteSample(target + filled + kBytesPerSample, (ReadSample(frame + kBytesPerSample) + shared) / sideWeight);
        filled += outputFrameBytes;
        front.consumed += inputFrameBytes;
        played_ += static_cast<int64_t>(inputFrameBytes);
        if (front.consumed == front.bytes.size()) {
            queue_.pop_front();
            ++finishedBlocks;
        }
    }
    return filled;
}

void SdlAudioPlayer::ApplyVolume(Uint8* stream, size_t bytes, int channels, uint16_t left,
                                 uint16_t right) const {
    if (left == 0xFFFF && right == 0xFFFF) return;
    const int32_t middle = (int32_t{left} + int32_t{right}) / 2;
    const size_t samples = bytes / kBytesPerSample;
    for (size_t i = 0; i < samples; ++i) {
        const int channel = channels == 1 ? -1 : static_cast<int>(i % static_cast<size_t>(channels));
        const int32_t level = channel == 0 ? left : channel == 1 ? right : middle;
        uint8_t* at = stream + i * kBytesPerSample;
        WriteSample(at, ReadSample(at) * level / 0xFFFF);
    }
}

// The calls below run on the UI thread. Each checks that no Stop came between the moment the
// device thread saw the event and now.

void SdlAudioPlayer::PostEndArrayPlay(uint64_t generation, int count) {
    QMetaObject::invokeMethod(
        eventTarget_.get(),
        [this, generation, count] {
            for (int i = 0; i < count; ++i) {
                {
                    std::lock_guard lock(mutex_);
                    if (generation != generation_) return;
                }
                // The handler may stop the player, which the next round notices.
                if (handler_) handler_->AudioPlayer_EndArrayPlay();
            }
        },
        Qt::QueuedConnection);
}

void SdlAudioPlayer::PostEndPlay(uint64_t generation, int64_t queuedWhenDry) {
    QMetaObject::invokeMethod(
        eventTarget_.get(),
        [this, generation, queuedWhenDry] {
            {
                std::lock_guard lock(mutex_);
                if (generation != generation_) return;
                // Sound queued since the queue ran dry plays on: playing has not ended.
                if (queued_ != queuedWhenDry) return;
            }
            if (handler_) handler_->AudioPlayer_EndPlay();
        },
        Qt::QueuedConnection);
}

}  // namespace trimora
