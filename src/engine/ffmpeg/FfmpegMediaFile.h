#pragma once
// The real media file object: the reading side on FfmpegReader, the writing side on
// FfmpegWriter. Each side is made when first used, so a reader never probes the codec catalog.
#include <memory>

#include "engine/MediaFile.h"
#include "engine/ffmpeg/reader/FfmpegReader.h"
#include "engine/ffmpeg/writer/FfmpegWriter.h"

namespace trimora {

class FfmpegMediaFile : public MediaFile {
public:
    void Close() override;
    void OpenForReading(const std::string& path, const OpenProgress& progress = {}) override;
    bool HasVideo() override;
    bool HasAudio() override;
    std::string VideoCodecName() override;
    int32_t VideoDuration() override;
    int32_t VideoBitRate() override;
    double FrameRate() override;
    int32_t NumberOfFrames() override;
    int32_t Width() override;
    int32_t Height() override;
    std::string AudioFormatName() override;
    int32_t AudioDuration() override;
    int32_t AudioBitRate() override;
    int32_t SampleRate() override;
    int32_t BitsPerSample() override;
    int32_t Channels() override;
    void SeekToFrame(int32_t frameNumber) override;
    void SeekToPosition(int32_t timeMs) override;
    int32_t CurrentFrameNumber() override;
    int32_t CurrentVideoPosition() override;
    int32_t CurrentAudioPosition() override;
    void ReadNextVideoFrame(FrameData& frame) override;
    void ReadNextAudioBlock(int32_t blockSize, AudioBlock& block) override;
    void DropNotification(int32_t count) override;
    void DecodeInBackground(bool on) override;
    int32_t AviCodecCount() override;
    void SelectAviCodec(int16_t number) override;
    std::string SelectedAviCodecName() override;
    void ConfigureSelectedAviCodec() override;
    int32_t WmvProfileCount() override;
    void SelectWmvProfile(int16_t number) override;
    std::string SelectedProfileName() override;
    void CopyVideoFormat(int32_t width, int32_t height, double frameRate) override;
    void CopyAudioFormat(int32_t sampleRate, int32_t channels) override;
    void SetHasVideo(bool value) override;
    void SetHasAudio(bool value) override;
    void SetPcmAudio(int32_t sampleRate, int32_t channels, int32_t bitsPerSample) override;
    void SetAlawAudio(int32_t sampleRate, int32_t channels) override;
    void SetMulawAudio(int32_t sampleRate, int32_t channels) override;
    void SetAdpcmAudio(int32_t sampleRate, int32_t channels) override;
    void SetMp3Audio(int32_t bitRate, int32_t sampleRate, int32_t channels) override;
    void SetGsmAudio(int32_t sampleRate) override;
    void SetAviVideoParameters(int32_t width, int32_t height, double frameRate) override;
    void SetMpegVideoParameters(int32_t version, int32_t videoBitRate, int32_t width, int32_t height, double frameRate) override;
    void SetMpegAudioParameters(int32_t audioBitRate, int32_t sampleRate, int32_t channels) override;
    void CreateOutputFile(const std::string& path, int32_t containerKind) override;
    void AppendVideoFrame(const FrameData& frame) override;
    void AppendAudioBlock(const AudioBlock& block) override;
    void DiscardOutputFile() override;

private:
    FfmpegReader& Reader();
    FfmpegWriter& Writer();
    std::unique_ptr<FfmpegReader> reader_;
    std::unique_ptr<FfmpegWriter> writer_;
};

}  // namespace trimora
