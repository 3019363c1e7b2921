#include "engine/ffmpeg/FfmpegMediaFile.h"

namespace trimora {

FfmpegReader& FfmpegMediaFile::Reader() {
    if (!reader_) reader_ = std::make_unique<FfmpegReader>();
    return *reader_;
}

FfmpegWriter& FfmpegMediaFile::Writer() {
    if (!writer_) writer_ = std::make_unique<FfmpegWriter>();
    return *writer_;
}

void FfmpegMediaFile::Close() {
    // Both sides are closed even when the first fails; the first failure is reported.
    std::exception_ptr failure;
    try {
        if (writer_) writer_->Close();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        if (reader_) reader_->Close();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (failure) std::rethrow_exception(failure);
}

void FfmpegMediaFile::OpenForReading(const std::string& path, const OpenProgress& progress) {
    return Reader().OpenForReading(path, progress);
}
bool FfmpegMediaFile::HasVideo() { return Reader().HasVideo(); }
bool FfmpegMediaFile::HasAudio() { return Reader().HasAudio(); }
std::string FfmpegMediaFile::VideoCodecName() { return Reader().VideoCodecName(); }
int32_t FfmpegMediaFile::VideoDuration() { return Reader().VideoDuration(); }
int32_t FfmpegMediaFile::VideoBitRate() { return Reader().VideoBitRate(); }
double FfmpegMediaFile::FrameRate() { return Reader().FrameRate(); }
int32_t FfmpegMediaFile::NumberOfFrames() { return Reader().NumberOfFrames(); }
int32_t FfmpegMediaFile::Width() { return Reader().Width(); }
int32_t FfmpegMediaFile::Height() { return Reader().Height(); }
std::string FfmpegMediaFile::AudioFormatName() { return Reader().AudioFormatName(); }
int32_t FfmpegMediaFile::AudioDuration() { return Reader().AudioDuration(); }
int32_t FfmpegMediaFile::AudioBitRate() { return Reader().AudioBitRate(); }
int32_t FfmpegMediaFile::SampleRate() { return Reader().SampleRate(); }
int32_t FfmpegMediaFile::BitsPerSample() { return Reader().BitsPerSample(); }
int32_t FfmpegMediaFile::Channels() { return Reader().Channels(); }
void FfmpegMediaFile::SeekToFrame(int32_t frameNumber) { return Reader().SeekToFrame(frameNumber); }
void FfmpegMediaFile::SeekToPosition(int32_t timeMs) { return Reader().SeekToPosition(timeMs); }
int32_t FfmpegMediaFile::CurrentFrameNumber() { return Reader().CurrentFrameNumber(); }
int32_t FfmpegMediaFile::CurrentVideoPosition() { return Reader().CurrentVideoPosition(); }
int32_t FfmpegMediaFile::CurrentAudioPosition() { return Reader().CurrentAudioPosition(); }
void FfmpegMediaFile::ReadNextVideoFrame(FrameData& frame) { return Reader().ReadNextVideoFrame(frame); }
void FfmpegMediaFile::ReadNextAudioBlock(int32_t blockSize, AudioBlock& block) { return Reader().ReadNextAudioBlock(blockSize, block); }
void FfmpegMediaFile::DropNotification(int32_t count) { return Reader().DropNotification(count); }
void FfmpegMediaFile::DecodeInBackground(bool on) { return Reader().DecodeInBackground(on); }
int32_t FfmpegMediaFile::AviCodecCount() { return Writer().AviCodecCount(); }
void FfmpegMediaFile::SelectAviCodec(int16_t number) { return Writer().SelectAviCodec(number); }
std::string FfmpegMediaFile::SelectedAviCodecName() { return Writer().SelectedAviCodecName(); }
void FfmpegMediaFile::ConfigureSelectedAviCodec() { return Writer().ConfigureSelectedAviCodec(); }
int32_t FfmpegMediaFile::WmvProfileCount() { return Writer().WmvProfileCount(); }
void FfmpegMediaFile::SelectWmvProfile(int16_t number) { return Writer().SelectWmvProfile(number); }
std::string FfmpegMediaFile::SelectedProfileName() { return Writer().SelectedProfileName(); }
void FfmpegMediaFile::CopyVideoFormat(int32_t width, int32_t height, double frameRate) { return Writer().CopyVideoFormat(width, height, frameRate); }
void FfmpegMediaFile::CopyAudioFormat(int32_t sampleRate, int32_t channels) { return Writer().CopyAudioFormat(sampleRate, channels); }
void FfmpegMediaFile::SetHasVideo(bool value) { return Writer().SetHasVideo(value); }
void FfmpegMediaFile::SetHasAudio(bool value) { return Writer().SetHasAudio(value); }
void FfmpegMediaFile::SetPcmAudio(int32_t sampleRate, int32_t channels, int32_t bitsPerSample) { return Writer().SetPcmAudio(sampleRate, channels, bitsPerSample); }
void FfmpegMediaFile::SetAlawAudio(int32_t sampleRate, int32_t channels) { return Writer().SetAlawAudio(sampleRate, channels); }
void FfmpegMediaFile::SetMulawAudio(int32_t sampleRate, int32_t channels) { return Writer().SetMulawAudio(sampleRate, channels); }
void FfmpegMediaFile::SetAdpcmAudio(int32_t sampleRate, int32_t channels) { return Writer().SetAdpcmAudio(sampleRate, channels); }
void FfmpegMediaFile::SetMp3Audio(int32_t bitRate, int32_t sampleRate, int32_t channels) { return Writer().SetMp3Audio(bitRate, sampleRate, channels); }
void FfmpegMediaFile::SetGsmAudio(int32_t sampleRate) { return Writer().SetGsmAudio(sampleRate); }
void FfmpegMediaFile::SetAviVideoParameters(int32_t width, int32_t height, double frameRate) { return Writer().SetAviVideoParameters(width, height, frameRate); }
void FfmpegMediaFile::SetMpegVideoParameters(int32_t version, int32_t videoBitRate, int32_t width, int32_t height, double frameRate) { return Writer().SetMpegVideoParameters(version, videoBitRate, width, height, frameRate); }
void FfmpegMediaFile::SetMpegAudioParameters(int32_t audioBitRate, int32_t sampleRate, int32_t channels) { return Writer().SetMpegAudioParameters(audioBitRate, sampleRate, channels); }
void FfmpegMediaFile::CreateOutputFile(const std::string& path, int32_t containerKind) { return Writer().CreateOutputFile(path, containerKind); }
void FfmpegMediaFile::AppendVideoFrame(const FrameData& frame) { return Writer().AppendVideoFrame(frame); }
void FfmpegMediaFile::AppendAudioBlock(const AudioBlock& block) { return Writer().AppendAudioBlock(block); }
void FfmpegMediaFile::DiscardOutputFile() {
    if (writer_) writer_->DiscardOutputFile();
}

}  // namespace trimora
