#pragma once
// A scripted engine for driving the main window in tests: every call is recorded in order in
// one shared log ("in.SeekToFrame(5)", "out.CreateOutputFile(x.avi,1)", "player.Stop()"...),
// results come from public fields, and any operation can be told to fail.
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Platform.h"
#include "engine/EngineError.h"
#include "engine/EngineFactory.h"

namespace trimora::test {

struct CallLog {
    std::vector<std::string> calls;
    void Add(const std::string& call) { calls.push_back(call); }
    void Clear() { calls.clear(); }
    // The calls whose text starts with prefix, in order.
    std::vector<std::string> With(const std::string& prefix) const;
    bool Has(const std::string& call) const;
    long Count(const std::string& prefix) const;
    // Position of the first call equal to `call` at or after `from`; -1 when absent.
    long IndexOf(const std::string& call, long from = 0) const;
};

// Fails the named operation with the given text while set: failures["in.OpenForReading"] = "...".
using FailureScript = std::map<std::string, std::string>;

class FakeMediaFile : public MediaFile {
public:
    FakeMediaFile(std::string role, CallLog& log, FailureScript& failures);
    ~FakeMediaFile() override { log_.Add(role + ".Release()"); }
    std::string role;

    // Scripted input.
    bool hasVideo = true, hasAudio = true;
    std::string videoCodecName = "Fake Video", audioFormatName = "Fake PCM";
    int32_t videoDuration = 4000, videoBitRate = 1200, numberOfFrames = 100, width = 176, height = 144;
    double frameRate = 25;
    int32_t audioDuration = 4000, audioBitRate = 1536, sampleRate = 48000, bitsPerSample = 16, channels = 2;
    std::set<std::string> unreadablePaths;  // OpenForReading throws for these
    // An open of one of these paths reads for a while: it reports its progress this many times,
    // a millisecond apart, and stops when told to.
    std::map<std::string, int> slowOpens;
    std::string openPath;
    // Reading state: frame delivered last, sound delivered so far (ms).
    int32_t currentFrame = 0;
    double audioPositionMs = 0;
    bool deliverNoFrames = false;  // every ReadNextVideoFrame returns nothing
    bool decodingInBackground = false;
    // Writer lists.
    std::vector<std::string> codecNames = {"Codec 1", "Codec 2", "Codec 3"};
    std::vector<std::string> profileNames = {"Profile 1", "Profile 2", "Profile 3"};
    int16_t selectedCodec = 0, selectedProfile = 0;
    bool outputOpen = false;
    std::vector<int> framesAppended;   // frame numbers
    long audioBytesAppended = 0;

    void OpenForReading(const std::string& path, const OpenProgress& progress = {}) override;
    void Close() override;
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
    void SetMpegVideoParameters(int32_t version, int32_t videoBitRate, int32_t width, int32_t height,
                                double frameRate) override;
    void SetMpegAudioParameters(int32_t audioBitRate, int32_t sampleRate, int32_t channels) override;
    void CreateOutputFile(const std::string& path, int32_t containerKind) override;
    void AppendVideoFrame(const FrameData& frame) override;
    void AppendAudioBlock(const AudioBlock& block) override;
    void DiscardOutputFile() override;

    double FramePeriod() const { return numberOfFrames > 0 ? double(videoDuration) / numberOfFrames : 40.0; }

private:
    void Call(const std::string& name, const std::string& args = "");
    CallLog& log_;
    FailureScript& failures_;
};

// A tiny frame whose header carries `number`.
FrameData FakeFrame(int number, int timeMs);
int FrameNumberOf(const FrameData& frame);

class FakeAudioPlayer : public AudioPlayer {
public:
    FakeAudioPlayer(CallLog& log, FailureScript& failures) : log_(log), failures_(failures) {}
    ~FakeAudioPlayer() override { log_.Add("player.Release()"); }
    int16_t numberOfDevices = 1;
    int32_t sampleRate = 48000, channels = 2;
    int64_t queued = 0, played = 0;
    std::vector<size_t> blocksQueued;  // sizes, in order
    AudioPlayerEvents* handler = nullptr;

    void SetEventHandler(AudioPlayerEvents* h) override { handler = h; }
    int16_t NumberOfDevices() override;
    void SelectDevice(int32_t device) override;
    void SetFirstSetupValue(int32_t value) override;
    void SetSecondSetupValue(int32_t value) override;
    void SetPlaybackFormat(int32_t rate, int32_t channelCount) override;
    void FollowUp(int32_t value) override;
    int32_t AmountForDuration(int32_t milliseconds) override;
    int32_t DurationOfAmount(int32_t amount) override;
    int64_t QueuedCounter() override;
    int64_t PlayedCounter() override;
    void BeginPlaying() override;
    void QueueBlock(const AudioBlock& block) override;
    void Stop() override;

private:
    void Call(const std::string& name, const std::string& args = "");
    CallLog& log_;
    FailureScript& failures_;
};

class FakeVideoView : public VideoView {
public:
    FakeVideoView(QWidget* parent, CallLog& log) : widget_(new QWidget(parent)), log_(log) {}
    std::vector<int> shown;  // frame numbers shown, in order
    int32_t sizeMode = -1;
    QWidget* Widget() override { return widget_; }
    void ShowFrame(const FrameData& frame) override;
    void Repaint() override { widget_->update(); }
    void LimitToScreenRate(bool) override {}
    void Clear() override;
    void PrepareForPlayback(int32_t width, int32_t height) override;
    void PlaybackEnded() override;
    void SetSizeMode(int32_t mode) override;
    int32_t SizeMode() const override { return sizeMode; }

private:
    QWidget* widget_;
    CallLog& log_;
};

class FakeImageWriter : public ImageWriter {
public:
    FakeImageWriter(CallLog& log, FailureScript& failures) : log_(log), failures_(failures) {}
    ~FakeImageWriter() override { log_.Add("images.Release()"); }
    void SaveAsBmp(const FrameData& f, const std::string& p) override { Save("SaveAsBmp", f, p); }
    void SaveAsGif(const FrameData& f, const std::string& p) override { Save("SaveAsGif", f, p); }
    void SaveAsJpeg(const FrameData& f, const std::string& p) override { Save("SaveAsJpeg", f, p); }
    void SaveAsPng(const FrameData& f, const std::string& p) override { Save("SaveAsPng", f, p); }
    void SaveAsTiff(const FrameData& f, const std::string& p) override { Save("SaveAsTiff", f, p); }
    void SaveAsWmf(const FrameData& f, const std::string& p) override { Save("SaveAsWmf", f, p); }
    void SaveAsEmf(const FrameData& f, const std::string& p) override { Save("SaveAsEmf", f, p); }
    void SaveAsPcx(const FrameData& f, const std::string& p) override { Save("SaveAsPcx", f, p); }
    void SaveAsTga(const FrameData& f, const std::string& p) override { Save("SaveAsTga", f, p); }
    void SaveAsRas(const FrameData& f, const std::string& p) override { Save("SaveAsRas", f, p); }
    void SaveAsJpeg2000(const FrameData& f, const std::string& p) override { Save("SaveAsJpeg2000", f, p); }

private:
    void Save(const std::string& name, const FrameData& frame, const std::string& path);
    CallLog& log_;
    FailureScript& failures_;
};

class FakeSkin : public Skin {
public:
    FakeSkin(CallLog& log, FailureScript& failures) : log_(log), failures_(failures) {}
    std::function<void(const SkinElement&)> clickHandler;
    void LoadSkinFile(const std::string& path) override;
    void SkinWindow(QWidget* window) override;
    void SkinControl(QWidget* control, const std::string& element) override;
    void SetElementClickHandler(std::function<void(const SkinElement&)> handler) override { clickHandler = handler; }
    void Click(const std::string& name) { clickHandler(SkinElement{name}); }

private:
    CallLog& log_;
    FailureScript& failures_;
};

class FakeEngine : public EngineFactory {
public:
    CallLog log;
    FailureScript failures;
    // What the next objects are set up with before the window receives them.
    std::function<void(FakeMediaFile&)> setUpFile;
    int16_t audioDevices = 1;

    std::vector<FakeMediaFile*> files;  // in creation order: [0] the reader, [1] the writer
    FakeAudioPlayer* player = nullptr;
    FakeVideoView* view = nullptr;
    FakeImageWriter* images = nullptr;
    FakeSkin* skin = nullptr;
    FakeMediaFile& reader() { return *files.at(0); }
    FakeMediaFile& writer() { return *files.at(1); }

    std::unique_ptr<MediaFile> CreateMediaFile() override;
    std::unique_ptr<ImageWriter> CreateImageWriter() override;
    std::unique_ptr<AudioPlayer> CreateAudioPlayer() override;
    std::unique_ptr<VideoView> CreateVideoView(QWidget* parent) override;
    std::unique_ptr<Skin> CreateSkin() override;
};

// Scripted desktop: message boxes are recorded, file dialogs answer from a queue (an empty
// optional cancels), the clock is set by the test.
class FakePlatform : public Platform {
public:
    std::vector<std::pair<QString, MessageIcon>> messages;
    std::deque<std::optional<FileDialogAnswer>> dialogAnswers;
    std::vector<FileDialogRequest> dialogRequests;
    std::deque<bool> overwriteAnswers;  // default when empty: yes
    std::vector<QString> overwriteQuestions;
    std::vector<QString> shellOpened;
    QStringList suffixesWithoutViewer;  // ShellOpen fails for files ending so
    uint32_t tick = 100000;
    std::function<void(QDialog*)> onModal;  // runs while the dialog would be shown
    std::function<void(const QString&)> onMessage;  // runs while the message box would be shown
    std::function<void(const FileDialogRequest&)> onFileDialog;  // runs while the file dialog would be shown

    void MessageBox(QWidget* owner, const QString& text, MessageIcon icon) override;
    std::optional<FileDialogAnswer> ShowFileDialog(QWidget* owner, const FileDialogRequest& request) override;
    bool ConfirmOverwrite(QWidget* owner, const QString& path) override;
    bool ShellOpen(const QString& path) override {
        shellOpened.push_back(path);
        for (const QString& suffix : suffixesWithoutViewer)
            if (path.endsWith(suffix)) return false;
        return true;
    }
    uint32_t TickCount() override { return tick; }
    void RunModal(QDialog* dialog) override;
    QStringList MessageTexts() const;
};

}  // namespace trimora::test
