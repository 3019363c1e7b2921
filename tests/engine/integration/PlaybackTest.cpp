// Playback through the real engine: a stamped clip played from a mark in a real main window,
// with SDL's disk driver writing every byte the sound device plays into a file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "app/frmMain.h"
#include "editor/TwipsGeometry.h"
#include "engine/audio/SdlAudioPlayer.h"
#include "support/FakeEngine.h"
#include "support/GstClips.h"
#include "support/ScopedEnv.h"
#include "support/TestClips.h"

namespace trimora::test {
namespace {

std::vector<uint8_t> ReadBytes(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a device wrote: silence, then the sound, then silence. The sound is placed by its first
// non-silent sample frame against the first non-silent frame of what was expected.
::testing::AssertionResult PlayedExactly(const std::vector<uint8_t>& device, const std::vector<int16_t>& expected,
                                         int channels) {
    const size_t frameBytes = static_cast<size_t>(channels) * 2;
    std::vector<uint8_t> sound(expected.size() * 2);
    std::memcpy(sound.data(), expected.data(), sound.size());
    const auto loud = [](uint8_t b) { return b != 0; };
    const size_t firstPlayed = static_cast<size_t>(std::find_if(device.begin(), device.end(), loud) - device.begin());
    const size_t firstExpected = static_cast<size_t>(std::find_if(sound.begin(), sound.end(), loud) - sound.begin());
    if (firstPlayed == device.size()) return ::testing::AssertionFailure() << "the device played only silence";
    const size_t playedFrame = firstPlayed / frameBytes, expectedFrame = firstExpected / frameBytes;
    const size_t start = (playedFrame - std::min(playedFrame, expectedFrame)) * frameBytes;
    if (playedFrame < expectedFrame || start + sound.size() > device.size())
        return ::testing::AssertionFailure() << "the device played " << device.size() << " bytes, " << sound.size()
                                             << " expected after " << firstPlayed << " bytes of silence";
    const auto mismatch = std::mismatch(sound.begin(), sound.end(), device.begin() + static_cast<long>(start));
    if (mismatch.first != sound.end())
        return ::testing::AssertionFailure()
               << "sound differs at sample frame " << (mismatch.first - sound.begin()) / static_cast<long>(frameBytes)
               << " of " << sound.size() / frameBytes;
    if (!std::all_of(device.begin() + static_cast<long>(start + sound.size()), device.end(), [](uint8_t b) {
            return b == 0;
        }))
        return ::testing::AssertionFailure() << "more sound followed the expected end";
    return ::testing::AssertionSuccess();
}

class PlaybackIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        programFolder = temp.path() + "/program";
        QDir().mkpath(programFolder + "/Languages");
        for (const char* file : {"English.ini", "English.bmp"})
            QFile::copy(QString(TRIMORA_SOURCE_DIR) + "/resources/Languages/" + file,
                        programFolder + "/Languages/" + file);
        setenv("TRIMORA_REGISTRY_DIR", (temp.path() + "/registry").toUtf8().constData(), 1);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, temp.path() + "/settings");
        engine = CreateRealEngineFactory();
        window = std::make_unique<frmMain>(*engine, platform, programFolder);
        window->Form_Load();
        ASSERT_FALSE(window->NoAudioOutput);
    }

    void TearDown() override {
        if (window) window->close();
        window.reset();
    }

    // Opens the clip and drags mark 1 onto `frame`.
    void OpenWithMark(const std::string& clip, int frame) {
        window->OpenInputFile(QString::fromStdString(clip));
        ASSERT_TRUE(window->FileLoaded) << platform.MessageTexts().join("; ").toStdString();
        frmMain& w = *window;
        const float target = ThumbLeft(w.sldBack->Left(), w.sldBack->Width(), w.sldThum->Width(), frame,
                                       w.SliderTimePosition1->Max());
        w.sldThum_MouseDown(1, 0, 0, 0);
        w.sldThum_MouseMove(1, 0, target - w.sldThum->Left(), 0);
        w.sldThum_MouseUp(1, 0, 0, 0);
        ASSERT_EQ(w.SliderTimePosition1->Value(), frame);
        ASSERT_EQ(ReadStamp(w.FrameData_), frame);
    }

    SdlAudioPlayer& Player() { return dynamic_cast<SdlAudioPlayer&>(*window->AudioPlayer_); }

    // Presses Play and drives playback to its end. The picture's clock (the window's tick) runs
    // in steps of at most 8 ms and never ahead of the sound the device has taken, so no frame
    // is dropped however busy the machine is; once the sound has run out it runs on alone.
    // `interrupt` runs after each step and may stop and restart playback.
    void PlayToEnd(const std::function<void()>& interrupt = {}) {
        frmMain& w = *window;
        w.cmdPlayStop->click();
        ASSERT_TRUE(w.Playing);
        openedFormat = Player().OpenDeviceFormat();
        const int rate = w.VideoFileIn1->SampleRate(), channels = w.VideoFileIn1->Channels();
        const double bytesPerMs = rate * channels * 2 / 1000.0;
        int64_t clock = 0;
        bool soundStarted = false;
        shown.clear();
        QElapsedTimer bound;
        bound.start();
        while (w.Playing) {
            ASSERT_LT(bound.elapsed(), 20000) << "playback did not end";
            const int64_t played = Player().PlayedCounter();
            soundStarted = soundStarted || played > 0;
            const bool soundOver = soundStarted && Player().QueuedCounter() == 0;
            const int64_t soundMs = static_cast<int64_t>(static_cast<double>(played) / bytesPerMs);
            const int64_t next = std::min<int64_t>(clock + 8, soundOver ? clock + 8 : soundMs);
            if (next > clock) {
                clock = next;
                platform.tick = static_cast<uint32_t>(w.PlayStartTick) + static_cast<uint32_t>(clock);
                // A tick that shows a frame has read one: the reader's frame number moves.
                const int32_t before = w.VideoFileIn1->CurrentFrameNumber();
                ASSERT_TRUE(QMetaObject::invokeMethod(w.Timer1, "timeout", Qt::DirectConnection));
                if (w.VideoFileIn1->CurrentFrameNumber() != before) shown.push_back(ReadStamp(w.FrameData_));
            }
            if (interrupt && w.Playing) {
                const int32_t startTick = w.PlayStartTick;
                interrupt();
                if (w.PlayStartTick != startTick) {  // played again: a new clock
                    clock = 0;
                    soundStarted = false;
                }
            }
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // The device is closed by now: the file holds everything it played.
        EXPECT_TRUE(platform.messages.empty()) << platform.MessageTexts().join("; ").toStdString();
    }

    // The clip's own decoded sound from `ms` to its end.
    static std::vector<int16_t> SoundFrom(const std::string& clip, int ms, int rate, int channels) {
        const std::vector<int16_t> all = DecodeAudio(clip);
        const size_t first = static_cast<size_t>(static_cast<int64_t>(ms) * rate / 1000) * channels;
        return first < all.size() ? std::vector<int16_t>(all.begin() + static_cast<long>(first), all.end())
                                  : std::vector<int16_t>{};
    }

    QTemporaryDir temp;
    QString programFolder;
    QString diskFile = temp.filePath("device.raw");
    ScopedEnv driver{"SDL_AUDIODRIVER", "disk"};
    ScopedEnv file{"SDL_DISKAUDIOFILE", diskFile.toStdString()};
    FakePlatform platform;
    std::unique_ptr<EngineFactory> engine;
    std::unique_ptr<frmMain> window;
    std::vector<int> shown;
    SdlAudioPlayer::DeviceFormat openedFormat;
};

struct SoundCase {
    int rate;
    int channels;
    int frames;  // at 25 per second
    int mark;
    bool gstreamer = false;  // an AVI from GStreamer's muxer (sound chunks first) instead of FFmpeg's
    friend void PrintTo(const SoundCase& c, std::ostream* out) { *out << c.rate << " Hz x " << c.channels; }
};

class PlayFromMarkTest : public PlaybackIntegrationTest, public ::testing::WithParamInterface<SoundCase> {};

TEST_P(PlayFromMarkTest, DevicePlaysTheInputsSoundFromTheMarkAndThePictureFollowsFrameByFrame) {
    const SoundCase& c = GetParam();
    ClipSpec spec;
    spec.frames = c.frames;
    spec.sampleRate = c.rate;
    spec.channels = c.channels;
    GstClipSpec gstSpec;
    gstSpec.frames = c.frames;
    gstSpec.sampleRate = c.rate;
    gstSpec.channels = c.channels;
    const std::string clip = c.gstreamer ? MakeGstClip(gstSpec) : MakeClip(spec);
    OpenWithMark(clip, c.mark);
    // Playback of a mark starts after the frame the mark shows.
    ASSERT_EQ(window->PlayPosition[1], c.mark * 40);

    PlayToEnd();

    EXPECT_EQ(openedFormat.sampleRate, c.rate);
    EXPECT_EQ(openedFormat.channels, c.channels);
    std::vector<int> expectedFrames;
    for (int frame = c.mark + 1; frame <= c.frames; ++frame) expectedFrames.push_back(frame);
    expectedFrames.push_back(1);  // the end goes back to the start
    EXPECT_EQ(shown, expectedFrames);
    EXPECT_EQ(window->SliderTimePosition1->Value(), 1);
    EXPECT_TRUE(PlayedExactly(ReadBytes(diskFile), SoundFrom(clip, c.mark * 40, c.rate, c.channels), c.channels));
}

INSTANTIATE_TEST_SUITE_P(Formats, PlayFromMarkTest,
                         ::testing::Values(SoundCase{48000, 2, 50, 10},
                                           // 2.8 s left against 2.5 s prefetched: refills from
                                           // the block-finished event carry it to the end
                                           SoundCase{8000, 1, 75, 5},
                                           SoundCase{48000, 6, 40, 20},
                                           SoundCase{48000, 2, 50, 10, true},
                                           SoundCase{8000, 1, 50, 5, true}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "Hz_" + std::to_string(info.param.channels) +
                                    "ch" + (info.param.gstreamer ? "_GStreamerAvi" : "");
                         });

TEST_F(PlaybackIntegrationTest, StopThenPlayAtOnceStartsTheSoundAtTheNewStart) {
    ClipSpec spec;
    spec.frames = 50;
    const std::string clip = MakeClip(spec);
    OpenWithMark(clip, 4);
    int32_t restart = -1;
    PlayToEnd([&] {
        if (restart >= 0 || shown.size() < 12) return;
        window->cmdPlayStop->click();
        restart = window->PlayPosition[1];
        window->cmdPlayStop->click();
        shown.clear();
    });
    // Stopped after the twelfth frame shown: the playback resumes right after it, and the device
    // (opened afresh) plays the sound from there on and nothing older.
    ASSERT_EQ(restart, (4 + 12) * 40);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 4 + 13);
    EXPECT_TRUE(PlayedExactly(ReadBytes(diskFile), SoundFrom(clip, restart, 48000, 2), 2));
}

}  // namespace
}  // namespace trimora::test
