#pragma once
// The media file object: one class that reads an input (the reader) and writes an output
// (the writer). The program uses one instance for each role. Every operation may throw
// EngineError. Times are milliseconds; frames count from 1.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/MediaTypes.h"

namespace trimora {

// Told now and then during an open the share of the input read so far (0 to 1), from the thread
// that runs the open; returning false stops the open, which then throws OpenCancelled.
using OpenProgress = std::function<bool(double share)>;

class MediaFile {
public:
    virtual ~MediaFile() = default;

    // ---- reading side -------------------------------------------------------------------
    // path is UTF-8. An open may run on another thread than the later calls, one at a time: the
    // object is used by no other thread until it returns.
    virtual void OpenForReading(const std::string& path, const OpenProgress& progress = {}) = 0;
    // Closes whatever is open (the input, and an output being written). Safe when nothing is.
    virtual void Close() = 0;

    virtual bool HasVideo() = 0;
    virtual bool HasAudio() = 0;
    virtual std::string VideoCodecName() = 0;
    virtual int32_t VideoDuration() = 0;
    virtual int32_t VideoBitRate() = 0;        // the third video value: kbit/s, 0 when unknown
    virtual double FrameRate() = 0;
    virtual int32_t NumberOfFrames() = 0;
    virtual int32_t Width() = 0;
    virtual int32_t Height() = 0;
    virtual std::string AudioFormatName() = 0;  // "" without sound
    virtual int32_t AudioDuration() = 0;        // 0 without sound
    virtual int32_t AudioBitRate() = 0;         // the third audio value: kbit/s, 0 when unknown
    virtual int32_t SampleRate() = 0;           // 0 without sound
    virtual int32_t BitsPerSample() = 0;        // the fifth audio value: of the stored sound, 0 when not fixed
    virtual int32_t Channels() = 0;             // 0 without sound

    // Seeking makes frame N the next frame delivered (CurrentFrameNumber() is then N - 1) and
    // puts the audio position at the start of frame N.
    virtual void SeekToFrame(int32_t frameNumber) = 0;
    virtual void SeekToPosition(int32_t timeMs) = 0;  // the frame whose display time holds timeMs
    virtual int32_t CurrentFrameNumber() = 0;          // the frame delivered last, 0 before the first
    virtual int32_t CurrentVideoPosition() = 0;        // end time of the frame delivered last
    virtual int32_t CurrentAudioPosition() = 0;        // end time of the sound delivered last
    virtual void ReadNextVideoFrame(FrameData& frame) = 0;
    // blockSize counts sample frames; 0 means one decoded packet's worth.
    virtual void ReadNextAudioBlock(int32_t blockSize, AudioBlock& block) = 0;
    // The next `count` frames will be read and thrown away: decoding effort may be skipped.
    virtual void DropNotification(int32_t count) = 0;
    // While on, the next frames and the next sound block are decoded ahead on threads of the
    // reader's own (each read still returns exactly its frame or block). A job turns it on for
    // its input while it writes a file, so that decoding runs while the window shows a frame
    // and the encoder works; off again when the job ends. Off for a new object; opening does
    // not change it.
    virtual void DecodeInBackground(bool on) = 0;

    // ---- writing side -------------------------------------------------------------------
    virtual int32_t AviCodecCount() = 0;
    virtual void SelectAviCodec(int16_t number) = 0;  // 1 .. AviCodecCount()
    virtual std::string SelectedAviCodecName() = 0;
    virtual void ConfigureSelectedAviCodec() = 0;     // shows the codec's settings dialog (modal)
    virtual int32_t WmvProfileCount() = 0;
    virtual void SelectWmvProfile(int16_t number) = 0;  // 1 .. WmvProfileCount()
    virtual std::string SelectedProfileName() = 0;

    virtual void CopyVideoFormat(int32_t width, int32_t height, double frameRate) = 0;
    virtual void CopyAudioFormat(int32_t sampleRate, int32_t channels) = 0;
    virtual void SetHasVideo(bool value) = 0;
    virtual void SetHasAudio(bool value) = 0;
    virtual void SetPcmAudio(int32_t sampleRate, int32_t channels, int32_t bitsPerSample) = 0;
    virtual void SetAlawAudio(int32_t sampleRate, int32_t channels) = 0;
    virtual void SetMulawAudio(int32_t sampleRate, int32_t channels) = 0;
    virtual void SetAdpcmAudio(int32_t sampleRate, int32_t channels) = 0;
    virtual void SetMp3Audio(int32_t bitRate, int32_t sampleRate, int32_t channels) = 0;
    virtual void SetGsmAudio(int32_t sampleRate) = 0;
    virtual void SetAviVideoParameters(int32_t width, int32_t height, double frameRate) = 0;
    virtual void SetMpegVideoParameters(int32_t version, int32_t videoBitRate, int32_t width,
                                        int32_t height, double frameRate) = 0;
    virtual void SetMpegAudioParameters(int32_t audioBitRate, int32_t sampleRate, int32_t channels) = 0;
    virtual void CreateOutputFile(const std::string& path, int32_t containerKind) = 0;
    virtual void AppendVideoFrame(const FrameData& frame) = 0;
    virtual void AppendAudioBlock(const AudioBlock& block) = 0;
    // An output is written under a temporary name and takes its own name at Close. A job that
    // fails discards it instead: what was written is removed and a file of its name stays as it
    // was. Quiet when no output is open; never throws.
    virtual void DiscardOutputFile() = 0;
};

}  // namespace trimora
