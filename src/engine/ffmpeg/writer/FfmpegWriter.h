#pragma once
// The writing side of the media file object, on FFmpeg: the AVI codec catalog, the Windows
// Media profiles, the codec settings dialog, and the output file (AVI, MPEG-1/MPEG-2 program
// stream, ASF). Settings and selections are kept until changed and take effect at the next
// CreateOutputFile; an open file never changes under them. Encoding runs on a thread of its
// own; every call is made from one thread (the UI thread).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/MediaTypes.h"
#include "engine/ffmpeg/writer/CodecSettings.h"
#include "engine/ffmpeg/writer/OutputPlan.h"

namespace trimora {

class CodecSettingsDialog;
class EncodingPipeline;
class StagedOutputFile;

class FfmpegWriter {
public:
    FfmpegWriter();
    ~FfmpegWriter();  // finishes and keeps an open file quietly
    FfmpegWriter(const FfmpegWriter&) = delete;
    FfmpegWriter& operator=(const FfmpegWriter&) = delete;

    int32_t AviCodecCount();
    void SelectAviCodec(int16_t number);
    std::string SelectedAviCodecName();
    void ConfigureSelectedAviCodec();
    int32_t WmvProfileCount();
    void SelectWmvProfile(int16_t number);
    std::string SelectedProfileName();

    void CopyVideoFormat(int32_t width, int32_t height, double frameRate);
    void CopyAudioFormat(int32_t sampleRate, int32_t channels);
    void SetHasVideo(bool value);
    void SetHasAudio(bool value);
    void SetPcmAudio(int32_t sampleRate, int32_t channels, int32_t bitsPerSample);
    void SetAlawAudio(int32_t sampleRate, int32_t channels);
    void SetMulawAudio(int32_t sampleRate, int32_t channels);
    void SetAdpcmAudio(int32_t sampleRate, int32_t channels);
    void SetMp3Audio(int32_t bitRate, int32_t sampleRate, int32_t channels);
    void SetGsmAudio(int32_t sampleRate);
    void SetAviVideoParameters(int32_t width, int32_t height, double frameRate);
    void SetMpegVideoParameters(int32_t version, int32_t videoBitRate, int32_t width, int32_t height,
                                double frameRate);
    void SetMpegAudioParameters(int32_t audioBitRate, int32_t sampleRate, int32_t channels);
    void CreateOutputFile(const std::string& path, int32_t containerKind);
    void AppendVideoFrame(const FrameData& frame);
    void AppendAudioBlock(const AudioBlock& block);
    // Finishes the open file so that it plays and holds everything appended, and gives it its
    // name. Quiet when nothing is open. A failure is thrown after everything has been released;
    // the file is then removed and a file of its name stays as it was.
    void Close();
    // Ends the open file without giving it its name: what was written is removed and a file of
    // its name stays as it was. Quiet when nothing is open; never throws.
    void DiscardOutputFile();

    // ---- for the window and for tests ----
    bool IsOpen() const;
    // The settings the dialog made for the selected codec (kept until another codec is chosen).
    const CodecSettings& SelectedCodecSettings() const;
    void SetSelectedCodecSettings(const CodecSettings& settings);
    // Shows the dialog and says whether the user accepted it. The default runs it modally;
    // tests replace it so that nothing blocks.
    using DialogRunner = std::function<bool(CodecSettingsDialog&)>;
    void SetDialogRunner(DialogRunner runner);

private:
    void RequireOpen(const char* what) const;

    WriterSettings settings_;
    DialogRunner dialogRunner_;
    std::unique_ptr<StagedOutputFile> file_;  // declared first: removed after the pipeline lets go
    std::unique_ptr<EncodingPipeline> pipeline_;
    bool openHasVideo_ = false;
    bool openHasAudio_ = false;
};

}  // namespace trimora
