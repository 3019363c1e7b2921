// Cut and split through the window on the real engine, read back with FFmpeg: the stamped frames
// each output holds, its container and codecs, its length and the place of the sound's clicks.
#include <signal.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <tuple>

#include "support/GstClips.h"
#include "support/RealWindowFixture.h"

namespace trimora::test {
namespace {

// An input clip, with clicks at every whole second, and the marks the jobs use on it.
struct Input {
    const char* name;
    const char* frameRate;
    double fps;
    int frames;
    int sampleRate;
    int channels;
    int cutFirst, cutLast, splitFrame;
};
// 3 s of stamped 176x144 pictures at 25 frames/s with 48 kHz stereo; 10 s at one frame a second
// with 8 kHz mono, which every output holds at a higher frame rate.
const Input kPal{"Pal48k", "25", 25.0, 75, 48000, 2, 13, 62, 30};
const Input kOneFps{"OneFps8k", "1", 1.0, 10, 8000, 1, 3, 7, 5};

std::vector<int> Range(int first, int last) {
    std::vector<int> frames;
    for (int i = first; i <= last; ++i) frames.push_back(i);
    return frames;
}

// The stamps in order with repeats removed (a frame shown for two output periods counts once).
std::vector<int> Distinct(const std::vector<int>& stamps) {
    std::vector<int> distinct;
    for (int stamp : stamps)
        if (distinct.empty() || distinct.back() != stamp) distinct.push_back(stamp);
    return distinct;
}

struct OutputOption {
    const char* name;
    std::function<void(frmMain&)> choose;
    const char* formatName;  // ffprobe's format_name
    const char* videoCodec;
    const char* audioCodec;
    // In samples at the output's rate: the codec's frame (the last one is filled up), the
    // encoder's delay where the container cannot carry it (AVI), and how many samples late a
    // waveform codec's decoded click first reaches its level.
    int soundFrame = 1;
    int delay = 0;
    int onset = 0;
};

const OutputOption kPcm{"AviPcm", [](frmMain& w) { w.optPCM->setChecked(true); }, "avi", "mpeg4", "pcm_s16le"};
const OutputOption kMpeg2{"Mpeg2",
                          [](frmMain& w) {
                              w.cmdOptMPEG->click();
                              w.rbMPEG2->setChecked(true);
                              w.SelectRow(w.cmbFramerateMPEG, 2);  // 25.00
                          },
                          "mpeg", "mpeg2video", "mp2", 1152};

class RealCutSplitTest : public RealWindowFixture {
protected:
    std::string Clip(bool audio = true, const Input& input = kPal) {
        ClipSpec spec;
        spec.frameRate = input.frameRate;
        spec.frames = input.frames;
        spec.sampleRate = input.sampleRate;
        spec.channels = input.channels;
        spec.audio = audio;
        return MakeClip(spec);
    }

    frmMain& OpenClip(const std::string& clip) {
        frmMain& w = Load();
        w.OpenInputFile(QString::fromStdString(clip));
        EXPECT_TRUE(w.FileLoaded) << platform.MessageTexts().join("; ").toStdString();
        platform.messages.clear();
        return w;
    }

    QString Output(const QString& name) { return Folder("out") + "/" + name; }

    void SetMarks(int mark1, int mark2) {
        window->SliderTimePosition1->SetValue(mark1);
        window->SliderTimePosition2->SetValue(mark2);
    }

    void Cut(int mark1, int mark2, const QString& output) {
        SetMarks(mark1, mark2);
        window->EdOutFile->setText(output);
        window->cmdCut->click();
    }

    // Runs `action` between two cycles of the job about to start, once the reader has passed `frame`.
    void AtFrame(int frame, std::function<void()> action) {
        auto timer = std::make_shared<QTimer>();
        timer->setInterval(0);
        QObject::connect(timer.get(), &QTimer::timeout, [this, t = timer.get(), frame, action] {
            if (!window || !window->VideoFileIn1 || window->VideoFileIn1->CurrentFrameNumber() < frame) return;
            t->stop();
            action();
        });
        timer->start();
        timers_.push_back(timer);
    }

    QString Message(int index) const { return window->Messages[static_cast<size_t>(index)]; }

    // The output holds frames first..last of the input, each for its whole duration, with their
    // sound placed as a player places it: starting with the first frame and ending with the last
    // (up to the codec's last frame, which is filled up), the input's clicks (at whole seconds)
    // within a sample of their frames' times, 1 ms more where the container's timestamps are in
    // whole milliseconds. Returns the decoded sample count. `shown`: the stamps as the input shows
    // them where a damaged picture's cannot be read.
    int64_t ExpectStretch(const QString& output, int first, int last, const Input& input = kPal,
                          const OutputOption& option = kPcm, bool sound = true, const std::vector<int>& shown = {}) {
        const std::string path = output.toStdString();
        const std::vector<int> stamps = DecodeStamps(path);
        const ProbeInfo info = Probe(path);
        if (!shown.empty())
            EXPECT_EQ(stamps, shown) << path;
        else if (std::abs(info.frameRate - input.fps) < 1e-6)
            EXPECT_EQ(stamps, Range(first, last)) << path;
        else
            EXPECT_EQ(Distinct(stamps), Range(first, last)) << path;
        const double stretch = (last - first + 1) / input.fps;
        EXPECT_EQ(static_cast<double>(stamps.size()), std::round(stretch * info.frameRate)) << path;
        EXPECT_EQ(info.decodeErrors, 0) << path;
        EXPECT_EQ(info.width, inputWidth_);
        EXPECT_EQ(info.height, inputHeight_);
        if (!sound) {
            EXPECT_EQ(info.audioCodec, "") << path;
            return 0;
        }
        const SoundPlacement placed = PlaceSound(path);
        if (placed.sampleRate <= 0) {
            ADD_FAILURE() << "no sound in " << path;
            return 0;
        }
        const double sample = 1.0 / placed.sampleRate;
        const double slack = (1 + option.onset) * sample + (info.formatName == "asf" ? 0.001 : 0.0) + inputSlack_;
        const double delay = option.delay * sample;
        EXPECT_NEAR(placed.End(), stretch + delay, option.soundFrame * sample + slack) << path;
        std::vector<double> expected;
        for (int second = firstClick_; second < 11; ++second) {
            const double at = second - (first - 1) / input.fps;
            if (at >= 0 && at < stretch) expected.push_back(at);
        }
        EXPECT_EQ(placed.clicks.size(), expected.size()) << path;
        for (size_t i = 0; i < std::min(placed.clicks.size(), expected.size()); ++i)
            EXPECT_NEAR(placed.clicks[i], expected[i] + delay + inputSoundDelay_, slack) << path << ": click " << i;
        return placed.samples;
    }

    void ExpectIdentified(const QString& output, const OutputOption& option) {
        const ProbeInfo info = Probe(output.toStdString());
        EXPECT_NE(info.formatName.find(option.formatName), std::string::npos) << info.formatName;
        EXPECT_EQ(info.videoCodec, option.videoCodec);
        EXPECT_EQ(info.audioCodec, option.audioCodec);
    }

    // How far the input's own sound runs behind its pictures as every player hears it (an MP3 in
    // AVI cannot carry its encoder's delay): the output keeps it.
    double inputSoundDelay_ = 0;
    int firstClick_ = 0;  // the second of the input's first click that its sound still holds
    double inputSlack_ = 0;  // how exactly the input's container places its sound
    int inputWidth_ = 176;
    int inputHeight_ = 144;

    void TearDown() override {
        timers_.clear();
        RealWindowFixture::TearDown();
    }

private:
    std::vector<std::shared_ptr<QTimer>> timers_;
};

const OutputOption kOptions[] = {
    kPcm,
    {"AviAlaw", [](frmMain& w) { w.optALAW->setChecked(true); }, "avi", "mpeg4", "pcm_alaw"},
    {"AviMulaw", [](frmMain& w) { w.optULAW->setChecked(true); }, "avi", "mpeg4", "pcm_mulaw"},
    // LAME's delay: 576 samples of its own and 529 of the decoder.
    {"AviMp3", [](frmMain& w) { w.optMP3->setChecked(true); }, "avi", "mpeg4", "mp3", 1152, 1105},
    {"AviGsm", [](frmMain& w) { w.optGSM->setChecked(true); }, "avi", "mpeg4", "gsm_ms", 320, 0, 8},
    {"AviAdpcm", [](frmMain& w) { w.optADPCM->setChecked(true); }, "avi", "mpeg4", "adpcm_ima_wav", 2048, 0, 4},
    {"Mpeg1",
     [](frmMain& w) {
         w.cmdOptMPEG->click();
         w.rbMPEG1->setChecked(true);
         w.SelectRow(w.cmbFramerateMPEG, 2);  // 25.00
     },
     "mpeg", "mpeg1video", "mp2", 1152},
    kMpeg2,
    {"WindowsMedia", [](frmMain& w) { w.cmdOptWMV->click(); }, "asf", "wmv2", "wmav2", 2048},
};

class RealCutFormatTest : public RealCutSplitTest,
                          public ::testing::WithParamInterface<std::tuple<OutputOption, Input>> {};

TEST_P(RealCutFormatTest, ACutAndASplitHoldExactlyTheirFramesWithTheirSoundToTheSample) {
    const auto& [option, input] = GetParam();
    frmMain& w = OpenClip(Clip(true, input));
    // The first row of the codec list is the writer's last codec: MPEG-4 Part 2.
    ASSERT_NE(w.cmbAVICodecs->itemText(0).indexOf("MPEG-4 Part 2"), -1) << w.cmbAVICodecs->itemText(0).toStdString();
    option.choose(w);
    const QString extension = w.OutExt[static_cast<size_t>(w.CurOutFormat)];
    const QString output = Output("cut." + extension);
    Cut(input.cutLast, input.cutFirst, output);  // reversed marks: the cut runs from the lower to the higher
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(19)});
    ExpectIdentified(output, option);
    ExpectStretch(output, input.cutFirst, input.cutLast, input, option);

    // A split puts every sample in one of its files: the first ends where the second begins.
    platform.messages.clear();
    const QString first = Output("part1." + extension), second = Output("part2." + extension);
    SetMarks(input.splitFrame, 1);
    w.EdOutFile->setText(first);
    w.EdOutFile2->setText(second);
    w.cmdSplit->click();
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(20)});
    const int64_t samples = ExpectStretch(first, 1, input.splitFrame - 1, input, option) +
                            ExpectStretch(second, input.splitFrame, input.frames, input, option);
    if (option.soundFrame == 1 && Probe(first.toStdString()).sampleRate == input.sampleRate) {
        EXPECT_EQ(samples, std::llround(input.frames / input.fps * input.sampleRate));
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, RealCutFormatTest, ::testing::Combine(::testing::ValuesIn(kOptions),
                                                                           ::testing::Values(kPal, kOneFps)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
                         });

// Recordings as they come: a cut across a restarting clock, a start in the middle of a group, a
// missing end or a damaged picture holds exactly the marked frames, its sound beside them.
struct RecordingCut {
    const char* kind;
    int mark1, mark2;
};

class RealRecordingCutTest : public RealCutSplitTest, public ::testing::WithParamInterface<RecordingCut> {};

TEST_P(RealRecordingCutTest, HoldsExactlyTheMarkedFramesWithTheirSound) {
    const RecordingCut& c = GetParam();
    const std::string path = MakeRecording(c.kind);
    const std::vector<int> shown = DecodeStamps(path, std::string(c.kind) == "damaged");
    ASSERT_GE(static_cast<int>(shown.size()), c.mark2);
    frmMain& w = OpenClip(path);
    inputWidth_ = w.VideoFileIn1->Width();
    inputHeight_ = w.VideoFileIn1->Height();
    const QString output = Output("cut.avi");
    Cut(c.mark1, c.mark2, output);
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(19)});
    const int first = shown[static_cast<size_t>(c.mark1 - 1)];
    const int last = shown[static_cast<size_t>(c.mark2 - 1)];
    ASSERT_EQ(last - first, c.mark2 - c.mark1) << "the marked frames are not a run of stamps";
    ExpectStretch(output, first, last, kPal, kPcm, true,
                  std::vector<int>(shown.begin() + c.mark1 - 1, shown.begin() + c.mark2));
}

INSTANTIATE_TEST_SUITE_P(Recordings, RealRecordingCutTest,
                         ::testing::Values(RecordingCut{"joined-ts", 60, 100}, RecordingCut{"joined-mpg", 60, 100},
                                           RecordingCut{"ts-cut-start", 5, 60}, RecordingCut{"avi-cut-end", 20, 55},
                                           RecordingCut{"damaged", 10, 30}),
                         [](const auto& info) {
                             std::string name = info.param.kind;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_F(RealCutSplitTest, AnInputWithoutSoundGivesAVideoOnlyOutput) {
    frmMain& w = OpenClip(Clip(false));
    for (const char* extension : {"avi", "mpeg"}) {
        if (QString(extension) == "mpeg") {
            w.cmdOptMPEG->click();
            w.SelectRow(w.cmbFramerateMPEG, 2);
        }
        const QString output = Output(QString("silent.") + extension);
        Cut(5, 30, output);
        ASSERT_EQ(platform.MessageTexts(), QStringList{Message(19)});
        platform.messages.clear();
        ExpectStretch(output, 5, 30, kPal, kPcm, false);
    }
}

TEST_F(RealCutSplitTest, AnotherFrameRateKeepsTheLengthAndTheSync) {
    frmMain& w = OpenClip(Clip());
    w.SelectRow(w.cmbFramerateAVI, 7);  // 30.00 from a 25 frames/s input
    const QString avi = Output("faster.avi");
    Cut(13, 62, avi);
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(19)});
    ExpectStretch(avi, 13, 62);

    platform.messages.clear();
    w.cmdOptMPEG->click();  // the MPEG list starts on 29.97
    const QString mpeg = Output("ntsc.mpeg");
    Cut(13, 62, mpeg);
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(19)});
    ExpectStretch(mpeg, 13, 62, kPal, kMpeg2);
}

TEST_F(RealCutSplitTest, ASplitPutsEveryFrameInOneFileWithTheSplitFrameFirstInTheSecond) {
    frmMain& w = OpenClip(Clip());
    struct Case {
        int splitFrame;
        bool mpeg;
    };
    for (const Case c : {Case{30, false}, Case{51, true}}) {
        if (c.mpeg) {
            w.cmdOptMPEG->click();
            w.rbMPEG2->setChecked(true);
            w.SelectRow(w.cmbFramerateMPEG, 2);
        }
        const QString extension = w.OutExt[static_cast<size_t>(w.CurOutFormat)];
        const QString first = Output("part1." + extension), second = Output("part2." + extension);
        SetMarks(c.splitFrame, 10);
        const int held = ShownStamp();
        w.EdOutFile->setText(first);
        w.EdOutFile2->setText(second);
        platform.messages.clear();
        w.cmdSplit->click();
        ASSERT_EQ(platform.MessageTexts(), QStringList{Message(20)});
        ExpectStretch(first, 1, c.splitFrame - 1, kPal, c.mpeg ? kMpeg2 : kPcm);
        ExpectStretch(second, c.splitFrame, 75, kPal, c.mpeg ? kMpeg2 : kPcm);
        // The window still holds the frame of the mark that changed last.
        EXPECT_EQ(ShownStamp(), held);
    }
}

TEST_F(RealCutSplitTest, CancelDuringACutLeavesAClosedPlayableFile) {
    OpenClip(Clip());
    AtFrame(30, [this] { window->cmdCancel->click(); });
    const QString output = Output("cancelled.avi");
    Cut(10, 70, output);
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    const std::vector<int> stamps = DecodeStamps(output.toStdString());
    ASSERT_GE(stamps.size(), 21u);
    EXPECT_EQ(stamps, Range(10, stamps.back()));
    EXPECT_LE(stamps.back(), 31);
    EXPECT_EQ(Probe(output.toStdString()).decodeErrors, 0);
}

TEST_F(RealCutSplitTest, CancelDuringPart2OfASplitLeavesBothFilesClosedAndPlayable) {
    frmMain& w = OpenClip(Clip());
    AtFrame(50, [this] { window->cmdCancel->click(); });
    const QString first = Output("part1.avi"), second = Output("part2.avi");
    SetMarks(40, 10);
    w.EdOutFile->setText(first);
    w.EdOutFile2->setText(second);
    w.cmdSplit->click();
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    ExpectStretch(first, 1, 39);
    const std::vector<int> stamps = DecodeStamps(second.toStdString());
    ASSERT_GE(stamps.size(), 11u);
    EXPECT_EQ(stamps, Range(40, stamps.back()));
    EXPECT_LE(stamps.back(), 52);
    EXPECT_EQ(Probe(second.toStdString()).decodeErrors, 0);
}

TEST_F(RealCutSplitTest, AnUnwritableFolderGivesTheWritersReasonThenMessage1) {
    frmMain& w = OpenClip(Clip());
    const QString blocked = Output("not-a-folder");
    {
        QFile file(blocked);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));  // a file where the folder should be
    }
    Cut(10, 30, blocked + "/cut.avi");
    const QStringList messages = platform.MessageTexts();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains("not-a-folder")) << messages[0].toStdString();
    EXPECT_EQ(messages[1], Message(1) + " " + messages[0]);

    // The window is usable again: the next cut to a good place works.
    EXPECT_TRUE(w.cmdCut->isEnabled());
    EXPECT_TRUE(w.cmdOptMPEG->isEnabled());
    EXPECT_TRUE(w.sldThum->isEnabled());
    EXPECT_EQ(w.SliderTimePosition1->Value(), 10);
    platform.messages.clear();
    const QString output = Output("after.avi");
    Cut(10, 30, output);
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(19)});
    ExpectStretch(output, 10, 30);
}

TEST_F(RealCutSplitTest, ClosingTheWindowDuringACutLeavesTheOutputClosedAndPlayable) {
    OpenClip(Clip());
    AtFrame(25, [this] { window->close(); });
    const QString output = Output("closed.avi");
    Cut(10, 70, output);
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    EXPECT_FALSE(window->isVisible());
    window.reset();  // the engine objects were released when the window closed
    const std::vector<int> stamps = DecodeStamps(output.toStdString());
    ASSERT_GE(stamps.size(), 16u);
    EXPECT_EQ(stamps, Range(10, stamps.back()));
    EXPECT_EQ(Probe(output.toStdString()).decodeErrors, 0);
}

TEST_F(RealCutSplitTest, ACutAndASplitOfEveryInputContainerHoldTheirSoundToTheSample) {
    // Every container from two muxers: FFmpeg's and GStreamer's. GStreamer's AVIs start with
    // sound chunks and their index marks none of them as a place to start. `delay`: samples the
    // input's own sound runs behind its pictures as every player hears it (GStreamer's muxers do
    // not make up for the encoders' delay). The WMA decoder swallows the first frame of a
    // stream, and with it the click at 0 s. ASF and Matroska place sound to the millisecond.
    // GStreamer's ASF written straight from its encoders stamps the pictures 1000 hours after
    // the sound, and its index counts from zero: the sound goes with the pictures from their
    // start, and the demuxer's seeks by time land in the wrong place.
    struct Case {
        std::string name;
        std::string path;
        int delay;
        int firstClick;
        double slack = 0;
    };
    const auto ffmpeg = [](const char* format, int firstClick = 0, double slack = 0) {
        ClipSpec spec;
        spec.format = format;
        return Case{std::string("ffmpeg_") + format, MakeClip(spec), 0, firstClick, slack};
    };
    const auto gstreamer = [](const GstClipSpec& spec, int delay, int firstClick) {
        return Case{GstClipName(spec), MakeGstClip(spec), delay, firstClick};
    };
    const Case cases[] = {ffmpeg("mpeg1"),
                          ffmpeg("ts"),
                          ffmpeg("asf", 1, 0.001),
                          ffmpeg("mov"),
                          ffmpeg("mkv", 0, 0.001),
                          gstreamer({"avi", "mjpeg", "pcm"}, 0, 0),
                          gstreamer({"avi", "mpeg4", "mp3"}, 1105, 0),
                          gstreamer({"mpeg", "h264", "mp2"}, 481, 0),
                          gstreamer({"asf", "wmv2", "wma"}, 2048, 1),
                          gstreamer({"asf_straight", "wmv2", "wma"}, 2048, 1),
                          gstreamer({"mov", "h264", "pcm"}, 0, 0)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        frmMain& w = OpenClip(c.path);
        inputSoundDelay_ = c.delay / 48000.0;
        firstClick_ = c.firstClick;
        inputSlack_ = c.slack;
        const QString name = QString::fromStdString(c.name);
        const QString output = Output(name + ".avi");
        Cut(13, 45, output);
        ASSERT_EQ(platform.MessageTexts(), QStringList{Message(19)});
        platform.messages.clear();
        ExpectStretch(output, 13, 45);

        const int frames = w.VideoFileIn1->NumberOfFrames();
        SetMarks(20, 1);
        w.EdOutFile->setText(Output(name + "-1.avi"));
        w.EdOutFile2->setText(Output(name + "-2.avi"));
        w.cmdSplit->click();
        ASSERT_EQ(platform.MessageTexts(), QStringList{Message(20)});
        platform.messages.clear();
        const int64_t samples = ExpectStretch(Output(name + "-1.avi"), 1, 19) +
                                ExpectStretch(Output(name + "-2.avi"), 20, frames);
        EXPECT_EQ(samples, std::llround(frames / 25.0 * 48000));
    }
}

TEST_F(RealCutSplitTest, AnInputThatShrinksDuringTheJobEndsWithTheFailureNotTheSuccess) {
    for (const bool split : {false, true}) {
        SCOPED_TRACE(split ? "split" : "cut");
        // A copy of its own: the cached clip stays whole.
        const QString input = Folder("in") + (split ? "/split.avi" : "/cut.avi");
        ASSERT_TRUE(QFile::copy(QString::fromStdString(Clip()), input));
        frmMain& w = OpenClip(input.toStdString());
        AtFrame(20, [&] { std::filesystem::resize_file(input.toStdString(), QFileInfo(input).size() / 3); });
        SetMarks(10, 70);
        w.EdOutFile->setText(Output(split ? "part1.avi" : "shrunk.avi"));
        w.EdOutFile2->setText(Output("part2.avi"));
        (split ? w.cmdSplit : w.cmdCut)->click();
        const QStringList messages = platform.MessageTexts();
        ASSERT_EQ(messages.size(), 1) << messages.join("; ").toStdString();
        EXPECT_TRUE(messages[0].startsWith(Message(1) + " ")) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(input)) << messages[0].toStdString();
        EXPECT_TRUE(w.cmdCut->isEnabled());
    }
}

QByteArray Checksum(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// Names that FFmpeg would read as addresses are plain files in the current folder (the
// program's); spellings, links and hard links of the input are refused before anything is
// written. The input stays as it was.
TEST_F(RealCutSplitTest, OutputNamesAreFilesAndNeverTheInput) {
    const QString folder = programFolder;  // the current folder once the window is loaded
    const QString input = folder + "/in.avi";
    ASSERT_TRUE(QFile::copy(QString::fromStdString(Clip()), input));
    const QByteArray before = Checksum(input);
    std::filesystem::create_hard_link(input.toStdString(), (folder + "/hard.avi").toStdString());
    ASSERT_TRUE(QFile::link(input, folder + "/soft.avi"));
    QDir().mkpath(folder + "/file:" + folder);
    QDir().mkpath(folder + "/http:/localhost");
    frmMain& w = OpenClip(input.toStdString());
    ASSERT_EQ(QDir::currentPath(), folder);

    // A written name is the file of that name in the current folder, holding the cut.
    const QString written[] = {"file:in.avi", "file:" + input, "pipe:1", "take:2.avi", "http://localhost/x.avi"};
    const QString refused[] = {"../program/in.avi", folder + "//in.avi", "hard.avi", "soft.avi"};
    for (const QString& name : written) {
        platform.messages.clear();
        Cut(5, 15, name);
        EXPECT_EQ(platform.MessageTexts(), QStringList{Message(19)}) << name.toStdString();
        EXPECT_EQ(DecodeStamps((folder + "/" + name).toStdString()), Range(5, 15)) << name.toStdString();
    }
    for (const QString& name : refused) {
        platform.messages.clear();
        Cut(5, 15, name);
        ASSERT_EQ(platform.messages.size(), 1u) << name.toStdString();
        EXPECT_TRUE(platform.messages[0].first.contains("is the input file")) << name.toStdString();
    }
    // Both outputs of a split.
    platform.messages.clear();
    SetMarks(40, 10);
    w.EdOutFile->setText("pipe:2");
    w.EdOutFile2->setText("take:3.avi");
    w.cmdSplit->click();
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(20)});
    EXPECT_EQ(DecodeStamps((folder + "/pipe:2").toStdString()), Range(1, 39));
    EXPECT_EQ(DecodeStamps((folder + "/take:3.avi").toStdString()), Range(40, 75));
    const std::pair<QString, QString> refusedSplits[] = {{"file:part1.avi", "hard.avi"}, {"soft.avi", "x.avi"}};
    for (const auto& [first, second] : refusedSplits) {
        platform.messages.clear();
        w.EdOutFile->setText(first);
        w.EdOutFile2->setText(second);
        w.cmdSplit->click();
        ASSERT_EQ(platform.messages.size(), 1u) << second.toStdString();
        EXPECT_TRUE(platform.messages[0].first.contains("is the input file"));
    }
    EXPECT_FALSE(QFile::exists(folder + "/file:part1.avi"));
    EXPECT_FALSE(QFile::exists(folder + "/x.avi"));
    EXPECT_EQ(Checksum(input), before);
}

// A replaced file stays until the job ends: a cancelled job's output takes its place, a failed
// job (a disk that fills up, made with a file size limit; a folder removed while the job runs)
// leaves it as it was and nothing else behind, and never reports success.
TEST_F(RealCutSplitTest, AnExistingOutputIsReplacedOnlyByAFinishedOrCancelledJob) {
    OpenClip(Clip());
    const QString folder = Folder("replace");
    const QString output = folder + "/out.avi";
    const QByteArray old(4000, 'o');
    auto writeOld = [&] {
        QFile file(output);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(old);
    };
    auto entries = [&] { return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System); };

    writeOld();
    platform.overwriteAnswers = {true};
    AtFrame(30, [this] { window->cmdCancel->click(); });
    Cut(10, 70, output);
    ASSERT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    const std::vector<int> stamps = DecodeStamps(output.toStdString());
    ASSERT_GE(stamps.size(), 21u);
    EXPECT_EQ(stamps, Range(10, stamps.back()));
    EXPECT_EQ(entries(), QStringList{"out.avi"});

    writeOld();
    platform.messages.clear();
    platform.overwriteAnswers = {true};
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Cut(10, 70, output);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_TRUE(platform.messages[0].first.startsWith(Message(1) + " ")) << platform.messages[0].first.toStdString();
    QFile kept(output);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), old);
    EXPECT_EQ(entries(), QStringList{"out.avi"});

    const QString vanishing = Folder("vanishing");
    platform.messages.clear();
    AtFrame(20, [&] { QDir(vanishing).removeRecursively(); });
    Cut(10, 70, vanishing + "/cut.avi");
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_TRUE(platform.messages[0].first.startsWith(Message(1) + " ")) << platform.messages[0].first.toStdString();
    EXPECT_FALSE(QFileInfo::exists(vanishing));
}

}  // namespace
}  // namespace trimora::test
