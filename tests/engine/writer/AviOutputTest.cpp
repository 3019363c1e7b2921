// Real AVI files: every listed codec, every sound option, frame-rate changes and odd inputs,
// checked by decoding the file with ffmpeg and reading back the frame stamps and the clicks.
#include <gtest/gtest.h>

#include <algorithm>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "engine/ffmpeg/writer/CodecCatalog.h"
#include "WriterTestSupport.h"

namespace trimora::test {
namespace {

std::vector<int> ListedCodecNumbers() {
    std::vector<int> numbers;
    for (size_t i = 1; i <= AviCodecs().size(); ++i) numbers.push_back(static_cast<int>(i));
    return numbers;
}

class EveryAviCodec : public testing::TestWithParam<int> {};

TEST_P(EveryAviCodec, WritesAnAviThatDecodesToTheFramesAppended) {
    const int number = GetParam();
    const AviCodecEntry& entry = AviCodecs()[number - 1];
    FfmpegWriter writer;
    Feed feed;
    // Odd sizes, so every codec's size rule is exercised; Cinepak is slow, so its clip is short.
    feed.width = 174;
    feed.height = 142;
    feed.frames = entry.encoderName == "cinepak" ? 6 : 12;
    feed.audio = false;
    DescribeInput(writer, feed);
    writer.SelectAviCodec(static_cast<int16_t>(number));
    writer.SetAviVideoParameters(feed.width, feed.height, 25);
    const std::string path = TempPath(".avi");
    WriteFeed(writer, feed, path, kContainerAvi);

    const ProbeInfo info = Probe(path);
    EXPECT_EQ(info.formatName, "avi") << entry.displayName;
    EXPECT_FALSE(info.videoCodec.empty()) << entry.displayName;
    EXPECT_EQ(info.decodeErrors, 0) << entry.displayName;
    EXPECT_NEAR(info.width, feed.width, 2) << entry.displayName;
    EXPECT_EQ(DecodeStamps(path), Range(1, feed.frames)) << entry.displayName;
}

INSTANTIATE_TEST_SUITE_P(Listed, EveryAviCodec, testing::ValuesIn(ListedCodecNumbers()),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "_" + AviCodecs()[info.param - 1].encoderName;
                         });

struct SoundOption {
    const char* name;
    const char* ffprobeCodec;
    int rate;
    int channels;
    std::function<void(FfmpegWriter&, int, int)> select;
};

class EveryAviSoundOption : public testing::TestWithParam<SoundOption> {};

TEST_P(EveryAviSoundOption, KeepsEveryFrameAndTheSoundInSync) {
    const SoundOption& option = GetParam();
    FfmpegWriter writer;
    Feed feed;  // 2 s at 25 fps with 48 kHz stereo sound
    DescribeInput(writer, feed);
    option.select(writer, feed.sampleRate, feed.channels);
    writer.SetAviVideoParameters(feed.width, feed.height, 25);
    const std::string path = TempPath(".avi");
    WriteFeed(writer, feed, path, kContainerAvi);

    const ProbeInfo info = Probe(path);
    EXPECT_EQ(info.formatName, "avi");
    EXPECT_EQ(info.videoCodec, "mpeg4");
    EXPECT_EQ(info.audioCodec, option.ffprobeCodec);
    EXPECT_EQ(info.sampleRate, option.rate);
    EXPECT_EQ(info.channels, option.channels);
    EXPECT_EQ(info.decodeErrors, 0);
    const std::vector<int> stamps = DecodeStamps(path);
    EXPECT_EQ(stamps, Range(1, 50));

    int rate = 0, channels = 0;
    const std::vector<int16_t> sound = DecodeAudio(path, &rate, &channels);
    ASSERT_GT(rate, 0);
    const double soundSeconds = static_cast<double>(sound.size()) / channels / rate;
    EXPECT_NEAR(soundSeconds, 50 / 25.0, 0.040 + 2304.0 / 48000) << "sound and picture lengths differ";
    ExpectClicksOnTheirFrames(path, stamps, 25, feed, 2);
}

INSTANTIATE_TEST_SUITE_P(
    FromStereo48k, EveryAviSoundOption,
    testing::Values(
        SoundOption{"Pcm", "pcm_s16le", 48000, 2, [](FfmpegWriter& w, int r, int c) { w.SetPcmAudio(r, c, 16); }},
        SoundOption{"Alaw", "pcm_alaw", 48000, 2, [](FfmpegWriter& w, int r, int c) { w.SetAlawAudio(r, c); }},
        SoundOption{"Mulaw", "pcm_mulaw", 48000, 2, [](FfmpegWriter& w, int r, int c) { w.SetMulawAudio(r, c); }},
        SoundOption{"Adpcm", "adpcm_ima_wav", 48000, 2, [](FfmpegWriter& w, int r, int c) { w.SetAdpcmAudio(r, c); }},
        SoundOption{"Mp3", "mp3", 48000, 2, [](FfmpegWriter& w, int r, int c) { w.SetMp3Audio(128, r, c); }},
        SoundOption{"Gsm", "gsm_ms", 8000, 1, [](FfmpegWriter& w, int r, int) { w.SetGsmAudio(r); }},
        SoundOption{"PcmMono", "pcm_s16le", 48000, 1, [](FfmpegWriter& w, int r, int) { w.SetPcmAudio(r, 1, 16); }}),
    [](const testing::TestParamInfo<SoundOption>& info) { return std::string(info.param.name); });

// A mono input written with two channels: both hold every sample unchanged, at its level.
TEST(AviSound, MonoWrittenAsStereoKeepsEverySampleInBothChannels) {
    FfmpegWriter writer;
    Feed feed;
    feed.channels = 1;
    DescribeInput(writer, feed);
    writer.SetPcmAudio(feed.sampleRate, 2, 16);
    writer.SetAviVideoParameters(feed.width, feed.height, 25);
    const std::string path = TempPath(".avi");
    WriteFeed(writer, feed, path, kContainerAvi);

    int rate = 0, channels = 0;
    const std::vector<int16_t> sound = DecodeAudio(path, &rate, &channels);
    ASSERT_EQ(channels, 2);
    ASSERT_EQ(rate, feed.sampleRate);
    ASSERT_EQ(sound.size(), size_t{2} * 96000);
    int wrong = 0;
    for (size_t i = 0; i < sound.size(); i += 2) {
        const int16_t expected = PatternSample(static_cast<int64_t>(i / 2), 0, rate);
        if (sound[i] != expected || sound[i + 1] != expected) ++wrong;
    }
    EXPECT_EQ(wrong, 0) << "of " << sound.size() / 2 << " sample frames";
}

TEST(AviFrameRate, AnotherOutputRateKeepsTheDurationAndTheSync) {
    struct Case {
        double outputRate;
        double exactRate;
    };
    for (const Case c : {Case{10.0, 10.0}, Case{29.97, 30000.0 / 1001}, Case{23.97, 24000.0 / 1001}}) {
        SCOPED_TRACE(c.outputRate);
        FfmpegWriter writer;
        Feed feed;  // 2 s at 25 fps
        DescribeInput(writer, feed);
        writer.SetPcmAudio(feed.sampleRate, feed.channels, 16);
        writer.SetAviVideoParameters(feed.width, feed.height, c.outputRate);
        const std::string path = TempPath(".avi");
        WriteFeed(writer, feed, path, kContainerAvi);

        const std::vector<int> stamps = DecodeStamps(path);
        EXPECT_NEAR(stamps.size() / c.exactRate, 2.0, 1.0 / c.exactRate + 1e-6);
        for (size_t i = 0; i < stamps.size(); ++i) EXPECT_EQ(stamps[i], FrameOnScreen(i, c.exactRate, 25.0)) << i;
        const ProbeInfo info = Probe(path);
        EXPECT_NEAR(info.audioDuration, 2.0, 0.01);
        ExpectClicksOnTheirFrames(path, stamps, c.exactRate, feed, 2);
    }
}

TEST(AviFrameRate, AFrameMissingFromTheInputIsFilledSoTheRestStaysInSync) {
    FfmpegWriter writer;
    Feed feed;
    feed.frames = 12;
    feed.audio = false;
    DescribeInput(writer, feed);
    writer.SetAviVideoParameters(feed.width, feed.height, 25);
    const std::string path = TempPath(".avi");
    writer.CreateOutputFile(path, kContainerAvi);
    for (int n = 1; n <= 12; ++n)
        if (n != 5 && n != 9 && n != 10) writer.AppendVideoFrame(MakeStampedFrame(176, 144, n, FrameTimeMs(feed, n)));
    // The same time twice: only one of the two can be shown.
    writer.AppendVideoFrame(MakeStampedFrame(176, 144, 99, FrameTimeMs(feed, 12)));
    writer.Close();
    const std::vector<int> stamps = DecodeStamps(path);
    ASSERT_EQ(stamps.size(), 12u) << "the output must last as long as the input";
    const std::vector<int> kept = {1, 2, 3, 4, 6, 7, 8, 11, 12};
    for (size_t i = 0; i < stamps.size(); ++i) {
        const int frame = static_cast<int>(i) + 1;
        if (std::find(kept.begin(), kept.end(), frame) != kept.end())
            EXPECT_EQ(stamps[i], frame == 12 ? 99 : frame) << "output frame " << i;
        else  // the frame before a gap stays on screen until the next one starts
            EXPECT_EQ(stamps[i], frame == 5 ? 4 : 8) << "output frame " << i;
    }
}

TEST(AviInput, AnyPixelFormatAndSizeIsConverted) {
    struct Case {
        AVPixelFormat format;
        int width, height;
        const char* codec;
    };
    for (const Case c : {Case{AV_PIX_FMT_RGB24, 175, 143, "Xvid"}, Case{AV_PIX_FMT_YUV422P, 176, 144, "Motion JPEG"},
                         Case{AV_PIX_FMT_NV12, 178, 146, "Microsoft Video 1"}, Case{AV_PIX_FMT_BGRA, 161, 121, "H.264"}}) {
        SCOPED_TRACE(c.codec);
        FfmpegWriter writer;
        const int16_t number = CodecNumber(writer, c.codec);
        if (number == 0) continue;
        Feed feed;
        feed.width = c.width;
        feed.height = c.height;
        feed.frames = 8;
        feed.audio = false;
        feed.pixelFormat = c.format;
        DescribeInput(writer, feed);
        writer.SelectAviCodec(number);
        writer.SetAviVideoParameters(c.width, c.height, 25);
        const std::string path = TempPath(".avi");
        WriteFeed(writer, feed, path, kContainerAvi);
        EXPECT_EQ(Probe(path).decodeErrors, 0);
        EXPECT_EQ(DecodeStamps(path), Range(1, 8));
    }
}

TEST(AviInput, FramesOfAnotherSizeThanAnnouncedAreScaled) {
    FfmpegWriter writer;
    Feed feed;
    feed.frames = 6;
    feed.audio = false;
    DescribeInput(writer, feed);
    writer.SetAviVideoParameters(176, 144, 25);
    const std::string path = TempPath(".avi");
    writer.CreateOutputFile(path, kContainerAvi);
    for (int n = 1; n <= 6; ++n) writer.AppendVideoFrame(MakeStampedFrame(n % 2 ? 352 : 128, n % 2 ? 288 : 96, n, (n - 1) * 40));
    writer.Close();
    const ProbeInfo info = Probe(path);
    EXPECT_EQ(info.width, 176);
    EXPECT_EQ(info.height, 144);
    EXPECT_EQ(DecodeStamps(path), Range(1, 6));
}

}  // namespace
}  // namespace trimora::test
