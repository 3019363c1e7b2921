#include "engine/ffmpeg/writer/FfmpegWriter.h"

#include <QApplication>

#include "engine/EngineError.h"
#include "engine/FrameBuffer.h"
#include "engine/ffmpeg/writer/CodecCatalog.h"
#include "engine/ffmpeg/writer/CodecSettingsDialog.h"
#include "engine/ffmpeg/writer/EncodingPipeline.h"
#include "engine/ffmpeg/writer/OutputSession.h"
#include "engine/ffmpeg/writer/StagedOutputFile.h"
#include "engine/ffmpeg/writer/WindowsMediaProfiles.h"

namespace trimora {

FfmpegWriter::FfmpegWriter()
    : dialogRunner_([](CodecSettingsDialog& dialog) { return dialog.exec() == QDialog::Accepted; }) {
    settings_.aviCodecNumber = static_cast<int>(AviCodecs().size());
    settings_.wmvProfileNumber = static_cast<int>(WindowsMediaProfiles().size());
}

FfmpegWriter::~FfmpegWriter() {
    try {
        Close();
    } catch (...) {
        // Nobody is left to tell.
    }
}

// ---- codec catalog and profiles ----------------------------------------------------------

int32_t FfmpegWriter::AviCodecCount() { return static_cast<int32_t>(AviCodecs().size()); }

void FfmpegWriter::SelectAviCodec(int16_t number) {
    if (number < 1 || number > AviCodecCount())
        throw EngineError("There is no AVI video codec number " + std::to_string(number) + " (there are " +
                          std::to_string(AviCodecCount()) + ")");
    if (number != settings_.aviCodecNumber) settings_.aviCodecSettings = CodecSettings{};
    settings_.aviCodecNumber = number;
}

std::string FfmpegWriter::SelectedAviCodecName() {
    if (AviCodecs().empty()) throw EngineError("No AVI video codec works in this FFmpeg build");
    return AviCodecs()[settings_.aviCodecNumber - 1].displayName;
}

void FfmpegWriter::ConfigureSelectedAviCodec() {
    if (AviCodecs().empty()) throw EngineError("No AVI video codec works in this FFmpeg build");
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw EngineError("The codec settings can only be shown while the program's window is up");
    CodecSettingsDialog dialog(AviCodecs()[settings_.aviCodecNumber - 1], settings_.aviCodecSettings,
                               QApplication::activeWindow());
    if (dialogRunner_(dialog)) settings_.aviCodecSettings = dialog.Settings();
}

int32_t FfmpegWriter::WmvProfileCount() { return static_cast<int32_t>(WindowsMediaProfiles().size()); }

void FfmpegWriter::SelectWmvProfile(int16_t number) {
    if (number < 1 || number > WmvProfileCount())
        throw EngineError("There is no Windows Media profile number " + std::to_string(number) + " (there are " +
                          std::to_string(WmvProfileCount()) + ")");
    settings_.wmvProfileNumber = number;
}

std::string FfmpegWriter::SelectedProfileName() {
    return WindowsMediaProfiles()[settings_.wmvProfileNumber - 1].name;
}

const CodecSettings& FfmpegWriter::SelectedCodecSettings() const { return settings_.aviCodecSettings; }
void FfmpegWriter::SetSelectedCodecSettings(const CodecSettings& settings) { settings_.aviCodecSettings = settings; }
void FfmpegWriter::SetDialogRunner(DialogRunner runner) { dialogRunner_ = std::move(runner); }

// ---- settings ------------------------------------------------------------------------------

void FfmpegWriter::CopyVideoFormat(int32_t width, int32_t height, double frameRate) {
    settings_.inputWidth = width;
    settings_.inputHeight = height;
    settings_.inputFrameRate = frameRate;
}

void FfmpegWriter::CopyAudioFormat(int32_t sampleRate, int32_t channels) {
    settings_.inputSampleRate = sampleRate;
    settings_.inputChannels = channels;
}

void FfmpegWriter::SetHasVideo(bool value) { settings_.hasVideo = value; }
void FfmpegWriter::SetHasAudio(bool value) { settings_.hasAudio = value; }

void FfmpegWriter::SetPcmAudio(int32_t sampleRate, int32_t channels, int32_t bitsPerSample) {
    if (bitsPerSample != 8 && bitsPerSample != 16 && bitsPerSample != 24 && bitsPerSample != 32)
        throw EngineError("PCM sound with " + std::to_string(bitsPerSample) + " bits per sample cannot be written");
    settings_.aviAudioSet = true;
    settings_.aviAudio = AviAudioCodec::Pcm;
    settings_.aviSampleRate = sampleRate;
    settings_.aviChannels = channels;
    settings_.pcmBits = bitsPerSample;
}

void FfmpegWriter::SetAlawAudio(int32_t sampleRate, int32_t channels) {
    settings_.aviAudioSet = true;
    settings_.aviAudio = AviAudioCodec::Alaw;
    settings_.aviSampleRate = sampleRate;
    settings_.aviChannels = channels;
}

void FfmpegWriter::SetMulawAudio(int32_t sampleRate, int32_t channels) {
    settings_.aviAudioSet = true;
    settings_.aviAudio = AviAudioCodec::Mulaw;
    settings_.aviSampleRate = sampleRate;
    settings_.aviChannels = channels;
}

void FfmpegWriter::SetAdpcmAudio(int32_t sampleRate, int32_t channels) {
    settings_.aviAudioSet = true;
    settings_.aviAudio = AviAudioCodec::Adpcm;
    settings_.aviSampleRate = sampleRate;
    settings_.aviChannels = channels;
}

void FfmpegWriter::SetMp3Audio(int32_t bitRate, int32_t sampleRate, int32_t channels) {
    settings_.aviAudioSet = true;
    settings_.aviAudio = AviAudioCodec::Mp3;
    settings_.mp3Kbps = bitRate;
    settings_.aviSampleRate = sampleRate;
    settings_.aviChannels = channels;
}

void FfmpegWriter::SetGsmAudio(int32_t sampleRate) {
    settings_.aviAudioSet = true;
    settings_.aviAudio = AviAudioCodec::Gsm;
    settings_.aviSampleRate = sampleRate;
    settings_.aviChannels = 1;
}

void FfmpegWriter::SetAviVideoParameters(int32_t width, int32_t height, double frameRate) {
    settings_.aviVideoSet = true;
    settings_.aviWidth = width;
    settings_.aviHeight = height;
    settings_.aviFrameRate = frameRate;
}

void FfmpegWriter::SetMpegVideoParameters(int32_t version, int32_t videoBitRate, int32_t width, int32_t height,
                                          double frameRate) {
    if (version != 1 && version != 2)
        throw EngineError("MPEG version " + std::to_string(version) + " cannot be written (only 1 and 2)");
    settings_.mpegVideoSet = true;
    settings_.mpegVersion = version;
    settings_.mpegVideoKbps = videoBitRate;
    settings_.mpegWidth = width;
    settings_.mpegHeight = height;
    settings_.mpegFrameRate = frameRate;
}

void FfmpegWriter::SetMpegAudioParameters(int32_t audioBitRate, int32_t sampleRate, int32_t channels) {
    settings_.mpegAudioSet = true;
    settings_.mpegAudioKbps = audioBitRate;
    settings_.mpegSampleRate = sampleRate;
    settings_.mpegChannels = channels;
}

// ---- the output file -----------------------------------------------------------------------

void FfmpegWriter::CreateOutputFile(const std::string& path, int32_t containerKind) {
    Close();
    const OutputPlan plan = BuildOutputPlan(settings_, containerKind);
    // Written under a temporary name beside the target; a file of the target's name is only
    // replaced by a finished output.
    auto file = std::make_unique<StagedOutputFile>(path);
    auto session = std::make_unique<OutputSession>(plan, path, file->TemporaryPath());
    openHasVideo_ = session->HasVideo();
    openHasAudio_ = session->HasAudio();
    pipeline_ = std::make_unique<EncodingPipeline>(std::move(session));
    file_ = std::move(file);
}

bool FfmpegWriter::IsOpen() const { return pipeline_ != nullptr; }

void FfmpegWriter::RequireOpen(const char* what) const {
    if (!pipeline_) throw EngineError(std::string("Cannot append ") + what + ": no output file has been created");
}

void FfmpegWriter::AppendVideoFrame(const FrameData& frame) {
    RequireOpen("a video frame");
    if (frame.empty() || !openHasVideo_) return;
    if (!ViewFrame(frame)) throw EngineError("The frame handed to the writer holds no picture it can read");
    // The encoding thread takes its own reference to the very picture handed over: no copy.
    ff::FramePtr picture = ReferencePicture(frame);
    size_t bytes = 0;
    for (const AVBufferRef* buffer : picture->buf)
        if (buffer) bytes += buffer->size;
    pipeline_->PushVideo(std::move(picture), PictureSpan{frame.StartSeconds(), frame.EndSeconds()}, bytes);
}

void FfmpegWriter::AppendAudioBlock(const AudioBlock& block) {
    RequireOpen("sound");
    if (block.empty() || !openHasAudio_) return;
    pipeline_->PushAudio(block);
}

void FfmpegWriter::Close() {
    if (!pipeline_) return;
    const std::unique_ptr<StagedOutputFile> file = std::move(file_);
    const std::unique_ptr<EncodingPipeline> pipeline = std::move(pipeline_);
    openHasVideo_ = openHasAudio_ = false;
    pipeline->Finish();  // on failure, `file` removes what was written
    file->Keep();
}

void FfmpegWriter::DiscardOutputFile() {
    if (!pipeline_) return;
    const std::unique_ptr<StagedOutputFile> file = std::move(file_);
    const std::unique_ptr<EncodingPipeline> pipeline = std::move(pipeline_);
    openHasVideo_ = openHasAudio_ = false;
    try {
        pipeline->Finish();
    } catch (...) {
        // The file is going anyway.
    }
    file->Discard();
}

}  // namespace trimora
