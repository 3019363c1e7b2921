#include "FakeEngine.h"

#include <QDialog>
#include <algorithm>
#include <chrono>
#include <thread>
#include <cmath>
#include <sstream>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "engine/FrameBuffer.h"

namespace trimora::test {

namespace {
std::string Num(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}
template <typename... T>
std::string Args(const T&... values) {
    std::ostringstream s;
    bool first = true;
    ((s << (first ? "" : ",") << values, first = false), ...);
    return s.str();
}
}  // namespace

std::vector<std::string> CallLog::With(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}
bool CallLog::Has(const std::string& call) const { return std::find(calls.begin(), calls.end(), call) != calls.end(); }
long CallLog::Count(const std::string& prefix) const { return static_cast<long>(With(prefix).size()); }
long CallLog::IndexOf(const std::string& call, long from) const {
    for (long i = std::max(0L, from); i < static_cast<long>(calls.size()); ++i)
        if (calls[i] == call) return i;
    return -1;
}

FrameData FakeFrame(int number, int timeMs) {
    FrameHeader header;
    header.width = 2;
    header.height = 2;
    header.pixelFormat = AV_PIX_FMT_GRAY8;
    header.frameNumber = number;
    header.timeMs = timeMs;
    const uint8_t pixels[4] = {16, 16, 16, 16};
    const uint8_t* planes[4] = {pixels, nullptr, nullptr, nullptr};
    const int lines[4] = {2, 0, 0, 0};
    return FrameFromPlanes(header, planes, lines);
}

int FrameNumberOf(const FrameData& frame) { return frame.empty() ? -1 : frame.FrameNumber(); }

FakeMediaFile::FakeMediaFile(std::string r, CallLog& log, FailureScript& failures)
    : role(std::move(r)), log_(log), failures_(failures) {}

void FakeMediaFile::Call(const std::string& name, const std::string& args) {
    log_.Add(role + "." + name + "(" + args + ")");
    if (auto it = failures_.find(role + "." + name); it != failures_.end()) throw EngineError(it->second);
}

void FakeMediaFile::OpenForReading(const std::string& path, const OpenProgress& progress) {
    Call("OpenForReading", path);
    if (auto slow = slowOpens.find(path); slow != slowOpens.end()) {
        for (int step = 0; step <= slow->second; ++step) {
            if (progress && !progress(static_cast<double>(step) / slow->second)) throw OpenCancelled();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (unreadablePaths.count(path)) throw EngineError("Cannot open " + path);
    openPath = path;
    currentFrame = 0;
    audioPositionMs = 0;
}
void FakeMediaFile::Close() {
    Call("Close");
    openPath.clear();
    outputOpen = false;
}
bool FakeMediaFile::HasVideo() { Call("HasVideo"); return hasVideo; }
bool FakeMediaFile::HasAudio() { Call("HasAudio"); return hasAudio; }
std::string FakeMediaFile::VideoCodecName() { Call("VideoCodecName"); return videoCodecName; }
int32_t FakeMediaFile::VideoDuration() { Call("VideoDuration"); return videoDuration; }
int32_t FakeMediaFile::VideoBitRate() { Call("VideoBitRate"); return videoBitRate; }
double FakeMediaFile::FrameRate() { Call("FrameRate"); return frameRate; }
int32_t FakeMediaFile::NumberOfFrames() { Call("NumberOfFrames"); return numberOfFrames; }
int32_t FakeMediaFile::Width() { Call("Width"); return width; }
int32_t FakeMediaFile::Height() { Call("Height"); return height; }
std::string FakeMediaFile::AudioFormatName() { Call("AudioFormatName"); return audioFormatName; }
int32_t FakeMediaFile::AudioDuration() { Call("AudioDuration"); return audioDuration; }
int32_t FakeMediaFile::AudioBitRate() { Call("AudioBitRate"); return audioBitRate; }
int32_t FakeMediaFile::SampleRate() { Call("SampleRate"); return sampleRate; }
int32_t FakeMediaFile::BitsPerSample() { Call("BitsPerSample"); return bitsPerSample; }
int32_t FakeMediaFile::Channels() { Call("Channels"); return channels; }

void FakeMediaFile::SeekToFrame(int32_t frameNumber) {
    Call("SeekToFrame", Args(frameNumber));
    currentFrame = std::clamp(frameNumber, 1, std::max(1, numberOfFrames)) - 1;
    audioPositionMs = currentFrame * FramePeriod();
}
void FakeMediaFile::SeekToPosition(int32_t timeMs) {
    Call("SeekToPosition", Args(timeMs));
    const int frame = static_cast<int>(std::floor(timeMs / FramePeriod())) + 1;
    currentFrame = std::clamp(frame, 1, std::max(1, numberOfFrames)) - 1;
    audioPositionMs = currentFrame * FramePeriod();
}
int32_t FakeMediaFile::CurrentFrameNumber() { Call("CurrentFrameNumber"); return currentFrame; }
int32_t FakeMediaFile::CurrentVideoPosition() {
    Call("CurrentVideoPosition");
    return static_cast<int32_t>(std::lround(currentFrame * FramePeriod()));
}
int32_t FakeMediaFile::CurrentAudioPosition() {
    Call("CurrentAudioPosition");
    return static_cast<int32_t>(std::floor(audioPositionMs));
}
void FakeMediaFile::ReadNextVideoFrame(FrameData& frame) {
    Call("ReadNextVideoFrame");
    if (deliverNoFrames || currentFrame >= numberOfFrames) {
        frame.clear();
        return;
    }
    ++currentFrame;
    frame = FakeFrame(currentFrame, static_cast<int>((currentFrame - 1) * FramePeriod()));
}
void FakeMediaFile::ReadNextAudioBlock(int32_t blockSize, AudioBlock& block) {
    Call("ReadNextAudioBlock", Args(blockSize));
    if (!hasAudio || audioPositionMs >= audioDuration) {
        block.clear();
        return;
    }
    const int frames = blockSize > 0 ? blockSize : 1152;
    double ms = frames * 1000.0 / sampleRate;
    const double left = audioDuration - audioPositionMs;
    int delivered = frames;
    if (ms > left) {
        delivered = std::max(1, static_cast<int>(left * sampleRate / 1000.0));
        ms = left;
    }
    audioPositionMs += ms;
    block.assign(static_cast<size_t>(delivered) * channels * 2, 0);
}
void FakeMediaFile::DropNotification(int32_t count) { Call("DropNotification", Args(count)); }
void FakeMediaFile::DecodeInBackground(bool on) {
    Call("DecodeInBackground", on ? "true" : "false");
    decodingInBackground = on;
}

int32_t FakeMediaFile::AviCodecCount() { Call("AviCodecCount"); return static_cast<int32_t>(codecNames.size()); }
void FakeMediaFile::SelectAviCodec(int16_t number) {
    Call("SelectAviCodec", Args(number));
    if (number < 1 || number > static_cast<int>(codecNames.size())) throw EngineError("No such codec");
    selectedCodec = number;
}
std::string FakeMediaFile::SelectedAviCodecName() {
    Call("SelectedAviCodecName");
    return selectedCodec > 0 ? codecNames.at(selectedCodec - 1) : "";
}
void FakeMediaFile::ConfigureSelectedAviCodec() { Call("ConfigureSelectedAviCodec"); }
int32_t FakeMediaFile::WmvProfileCount() { Call("WmvProfileCount"); return static_cast<int32_t>(profileNames.size()); }
void FakeMediaFile::SelectWmvProfile(int16_t number) {
    Call("SelectWmvProfile", Args(number));
    if (number < 1 || number > static_cast<int>(profileNames.size())) throw EngineError("No such profile");
    selectedProfile = number;
}
std::string FakeMediaFile::SelectedProfileName() {
    Call("SelectedProfileName");
    return selectedProfile > 0 ? profileNames.at(selectedProfile - 1) : "";
}
void FakeMediaFile::CopyVideoFormat(int32_t w, int32_t h, double fps) { Call("CopyVideoFormat", Args(w, h, Num(fps))); }
void FakeMediaFile::CopyAudioFormat(int32_t rate, int32_t ch) { Call("CopyAudioFormat", Args(rate, ch)); }
void FakeMediaFile::SetHasVideo(bool v) { Call("SetHasVideo", v ? "true" : "false"); }
void FakeMediaFile::SetHasAudio(bool v) { Call("SetHasAudio", v ? "true" : "false"); }
void FakeMediaFile::SetPcmAudio(int32_t rate, int32_t ch, int32_t bits) { Call("SetPcmAudio", Args(rate, ch, bits)); }
void FakeMediaFile::SetAlawAudio(int32_t rate, int32_t ch) { Call("SetAlawAudio", Args(rate, ch)); }
void FakeMediaFile::SetMulawAudio(int32_t rate, int32_t ch) { Call("SetMulawAudio", Args(rate, ch)); }
void FakeMediaFile::SetAdpcmAudio(int32_t rate, int32_t ch) { Call("SetAdpcmAudio", Args(rate, ch)); }
void FakeMediaFile::SetMp3Audio(int32_t bitRate, int32_t rate, int32_t ch) { Call("SetMp3Audio", Args(bitRate, rate, ch)); }
void FakeMediaFile::SetGsmAudio(int32_t rate) { Call("SetGsmAudio", Args(rate)); }
void FakeMediaFile::SetAviVideoParameters(int32_t w, int32_t h, double fps) {
    Call("SetAviVideoParameters", Args(w, h, Num(fps)));
}
void FakeMediaFile::SetMpegVideoParameters(int32_t version, int32_t bitRate, int32_t w, int32_t h, double fps) {
    Call("SetMpegVideoParameters", Args(version, bitRate, w, h, Num(fps)));
}
void FakeMediaFile::SetMpegAudioParameters(int32_t bitRate, int32_t rate, int32_t ch) {
    Call("SetMpegAudioParameters", Args(bitRate, rate, ch));
}
void FakeMediaFile::CreateOutputFile(const std::string& path, int32_t kind) {
    Call("CreateOutputFile", Args(path, kind));
    outputOpen = true;
}
void FakeMediaFile::AppendVideoFrame(const FrameData& frame) {
    Call("AppendVideoFrame", Args(FrameNumberOf(frame)));
    if (!outputOpen) throw EngineError("No output file is open");
    framesAppended.push_back(FrameNumberOf(frame));
}
void FakeMediaFile::AppendAudioBlock(const AudioBlock& block) {
    Call("AppendAudioBlock", Args(block.size()));
    if (!outputOpen) throw EngineError("No output file is open");
    audioBytesAppended += static_cast<long>(block.size());
}
void FakeMediaFile::DiscardOutputFile() {
    log_.Add(role + ".DiscardOutputFile()");
    outputOpen = false;
}

void FakeAudioPlayer::Call(const std::string& name, const std::string& args) {
    log_.Add("player." + name + "(" + args + ")");
    if (auto it = failures_.find("player." + name); it != failures_.end()) throw EngineError(it->second);
}
int16_t FakeAudioPlayer::NumberOfDevices() { Call("NumberOfDevices"); return numberOfDevices; }
void FakeAudioPlayer::SelectDevice(int32_t d) { Call("SelectDevice", Args(d)); }
void FakeAudioPlayer::SetFirstSetupValue(int32_t v) { Call("SetFirstSetupValue", Args(v)); }
void FakeAudioPlayer::SetSecondSetupValue(int32_t v) { Call("SetSecondSetupValue", Args(v)); }
void FakeAudioPlayer::SetPlaybackFormat(int32_t rate, int32_t ch) {
    Call("SetPlaybackFormat", Args(rate, ch));
    sampleRate = rate;
    channels = ch;
}
void FakeAudioPlayer::FollowUp(int32_t v) { Call("FollowUp", Args(v)); }
int32_t FakeAudioPlayer::AmountForDuration(int32_t ms) {
    Call("AmountForDuration", Args(ms));
    return static_cast<int32_t>(static_cast<int64_t>(ms) * sampleRate * channels * 2 / 1000);
}
int32_t FakeAudioPlayer::DurationOfAmount(int32_t amount) {
    Call("DurationOfAmount", Args(amount));
    const int64_t perSecond = static_cast<int64_t>(sampleRate) * channels * 2;
    return perSecond > 0 ? static_cast<int32_t>(static_cast<int64_t>(amount) * 1000 / perSecond) : 0;
}
int64_t FakeAudioPlayer::QueuedCounter() { Call("QueuedCounter"); return queued; }
int64_t FakeAudioPlayer::PlayedCounter() { Call("PlayedCounter"); return played; }
void FakeAudioPlayer::BeginPlaying() { Call("BeginPlaying"); }
void FakeAudioPlayer::QueueBlock(const AudioBlock& block) {
    Call("QueueBlock", Args(block.size()));
    blocksQueued.push_back(block.size());
    queued += static_cast<int64_t>(block.size());
}
void FakeAudioPlayer::Stop() {
    Call("Stop");
    queued = played = 0;
}

void FakeVideoView::ShowFrame(const FrameData& frame) {
    const int number = FrameNumberOf(frame);
    log_.Add("view.ShowFrame(" + std::to_string(number) + ")");
    shown.push_back(number);
}
void FakeVideoView::Clear() { log_.Add("view.Clear()"); }
void FakeVideoView::PrepareForPlayback(int32_t w, int32_t h) {
    log_.Add("view.PrepareForPlayback(" + std::to_string(w) + "," + std::to_string(h) + ")");
}
void FakeVideoView::PlaybackEnded() { log_.Add("view.PlaybackEnded()"); }
void FakeVideoView::SetSizeMode(int32_t mode) {
    log_.Add("view.SetSizeMode(" + std::to_string(mode) + ")");
    sizeMode = mode;
}

void FakeImageWriter::Save(const std::string& name, const FrameData& frame, const std::string& path) {
    log_.Add("images." + name + "(" + std::to_string(FrameNumberOf(frame)) + "," + path + ")");
    if (auto it = failures_.find("images." + name); it != failures_.end()) throw EngineError(it->second);
}

void FakeSkin::LoadSkinFile(const std::string& path) {
    log_.Add("skin.LoadSkinFile(" + path + ")");
    if (auto it = failures_.find("skin.LoadSkinFile"); it != failures_.end()) throw EngineError(it->second);
}
void FakeSkin::SkinWindow(QWidget* window) { log_.Add("skin.SkinWindow(" + window->objectName().toStdString() + ")"); }
void FakeSkin::SkinControl(QWidget* control, const std::string& element) {
    log_.Add("skin.SkinControl(" + control->objectName().toStdString() + "," + element + ")");
}

std::unique_ptr<MediaFile> FakeEngine::CreateMediaFile() {
    log.Add("engine.CreateMediaFile()");
    auto file = std::make_unique<FakeMediaFile>(files.empty() ? "in" : "out", log, failures);
    if (setUpFile) setUpFile(*file);
    files.push_back(file.get());
    return file;
}
std::unique_ptr<ImageWriter> FakeEngine::CreateImageWriter() {
    log.Add("engine.CreateImageWriter()");
    auto writer = std::make_unique<FakeImageWriter>(log, failures);
    images = writer.get();
    return writer;
}
std::unique_ptr<AudioPlayer> FakeEngine::CreateAudioPlayer() {
    log.Add("engine.CreateAudioPlayer()");
    auto p = std::make_unique<FakeAudioPlayer>(log, failures);
    p->numberOfDevices = audioDevices;
    player = p.get();
    return p;
}
std::unique_ptr<VideoView> FakeEngine::CreateVideoView(QWidget* parent) {
    auto v = std::make_unique<FakeVideoView>(parent, log);
    view = v.get();
    return v;
}
std::unique_ptr<Skin> FakeEngine::CreateSkin() {
    auto s = std::make_unique<FakeSkin>(log, failures);
    skin = s.get();
    return s;
}

void FakePlatform::MessageBox(QWidget*, const QString& text, MessageIcon icon) {
    messages.emplace_back(text, icon);
    if (onMessage) onMessage(text);
}
std::optional<FileDialogAnswer> FakePlatform::ShowFileDialog(QWidget*, const FileDialogRequest& request) {
    dialogRequests.push_back(request);
    if (onFileDialog) onFileDialog(request);
    std::optional<FileDialogAnswer> answer;
    if (!dialogAnswers.empty()) {
        answer.swap(dialogAnswers.front());
        dialogAnswers.pop_front();
    }
    return answer;
}
bool FakePlatform::ConfirmOverwrite(QWidget*, const QString& path) {
    overwriteQuestions.push_back(path);
    if (overwriteAnswers.empty()) return true;
    const bool answer = overwriteAnswers.front();
    overwriteAnswers.pop_front();
    return answer;
}
void FakePlatform::RunModal(QDialog* dialog) {
    if (onModal) onModal(dialog);
}
QStringList FakePlatform::MessageTexts() const {
    QStringList texts;
    for (const auto& m : messages) texts << m.first;
    return texts;
}

}  // namespace trimora::test
