// MPEG-1 and MPEG-2 program streams and Windows Media files, checked by decoding them.
#include <gtest/gtest.h>

#include <functional>

#include "WriterTestSupport.h"

namespace trimora::test {
namespace {

struct ContainerCase {
    const char* name;
    int kind;
    int mpegVersion;        // for kind 2
    const char* format;     // ffprobe's format name
    const char* videoCodec;
    const char* audioCodec;
};

class EveryContainer : public testing::TestWithParam<ContainerCase> {};

TEST_P(EveryContainer, HoldsEveryFrameWithTheSoundInSync) {
    const ContainerCase& c = GetParam();
    FfmpegWriter writer;
    Feed feed;  // 2 s at 25 fps, 48 kHz stereo
    DescribeInput(writer, feed);
    writer.SetMpegVideoParameters(c.mpegVersion, 1950, feed.width, feed.height, 25.0);
    writer.SetMpegAudioParameters(128, feed.sampleRate, 2);
    writer.SelectWmvProfile(static_cast<int16_t>(writer.WmvProfileCount()));
    const std::string path = TempPath(c.kind == kContainerMpeg ? ".mpeg" : ".wmv");
    WriteFeed(writer, feed, path, c.kind);

    const ProbeInfo info = Probe(path);
    EXPECT_EQ(info.formatName, c.format);
    EXPECT_EQ(info.videoCodec, c.videoCodec);
    EXPECT_EQ(info.audioCodec, c.audioCodec);
    EXPECT_EQ(info.width, 176);
    EXPECT_EQ(info.height, 144);
    EXPECT_EQ(info.decodeErrors, 0);
    const std::vector<int> stamps = DecodeStamps(path);
    EXPECT_EQ(stamps, Range(1, 50));
    int rate = 0, channels = 0;
    const std::vector<int16_t> sound = DecodeAudio(path, &rate, &channels);
    ASSERT_GT(rate, 0);
    EXPECT_NEAR(static_cast<double>(sound.size()) / channels / rate, 2.0, 0.040 + 2304.0 / 48000);
    ExpectClicksOnTheirFrames(path, stamps, 25, feed, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EveryContainer,
    testing::Values(ContainerCase{"Mpeg1", kContainerMpeg, 1, "mpeg", "mpeg1video", "mp2"},
                    ContainerCase{"Mpeg2", kContainerMpeg, 2, "mpeg", "mpeg2video", "mp2"},
                    ContainerCase{"WindowsMedia", kContainerWindowsMedia, 1, "asf", "wmv2", "wmav2"}),
    [](const testing::TestParamInfo<ContainerCase>& info) { return std::string(info.param.name); });

TEST(MpegOutput, ListedFrameRateAndUnusualSoundAreConvertedWithoutLosingSync) {
    // 29.97 fps from a 25 fps input, and 11025 Hz mono sound that layer II cannot store.
    FfmpegWriter writer;
    Feed feed;
    feed.sampleRate = 11025;
    feed.channels = 1;
    feed.blockSize = 529;
    DescribeInput(writer, feed);
    writer.SetMpegVideoParameters(2, 1150, feed.width, feed.height, 29.97);
    writer.SetMpegAudioParameters(384, feed.sampleRate, 2);
    const std::string path = TempPath(".mpeg");
    WriteFeed(writer, feed, path, kContainerMpeg);

    const ProbeInfo info = Probe(path);
    EXPECT_EQ(info.videoCodec, "mpeg2video");
    EXPECT_EQ(info.audioCodec, "mp2");
    EXPECT_EQ(info.sampleRate, 16000);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.decodeErrors, 0);
    const double rate = 30000.0 / 1001;
    const std::vector<int> stamps = DecodeStamps(path);
    EXPECT_NEAR(stamps.size() / rate, 2.0, 1 / rate + 1e-6);
    for (size_t i = 0; i < stamps.size(); ++i) EXPECT_EQ(stamps[i], FrameOnScreen(i, rate, 25.0)) << "frame " << i;
    ExpectClicksOnTheirFrames(path, stamps, rate, feed, 2);
}

TEST(WindowsMediaOutput, TheLowestProfileShrinksThePictureAndStillHoldsEveryFrame) {
    FfmpegWriter writer;
    Feed feed;
    feed.width = 320;
    feed.height = 240;
    feed.frames = 25;
    DescribeInput(writer, feed);
    writer.SelectWmvProfile(1);
    const std::string path = TempPath(".wmv");
    WriteFeed(writer, feed, path, kContainerWindowsMedia);
    const ProbeInfo info = Probe(path);
    EXPECT_EQ(info.formatName, "asf");
    EXPECT_EQ(info.width, 160);
    EXPECT_EQ(info.height, 120);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.decodeErrors, 0);
    EXPECT_EQ(DecodeStamps(path), Range(1, 25));
}

// Pictures whose pixels are not square (16:9 stored in 176x144, or in 320x240 that the lowest
// Windows Media profile shrinks to 160x120) are shown 16:9 from every container.
TEST(OutputAspect, WidePixelsKeepTheShapeThePicturesAreSeenIn) {
    struct Case {
        const char* extension;
        int kind;
        int width, height, aspectNum, aspectDen;
        std::function<void(FfmpegWriter&)> choose;
    };
    const Case cases[] = {
        {".avi", kContainerAvi, 176, 144, 16, 11, [](FfmpegWriter&) {}},
        {".mpeg", kContainerMpeg, 176, 144, 16, 11,
         [](FfmpegWriter& w) { w.SetMpegVideoParameters(2, 1950, 176, 144, 25.0); }},
        {".wmv", kContainerWindowsMedia, 320, 240, 4, 3, [](FfmpegWriter& w) { w.SelectWmvProfile(1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        FfmpegWriter writer;
        Feed feed;
        feed.width = c.width;
        feed.height = c.height;
        feed.frames = 10;
        feed.aspectNum = c.aspectNum;
        feed.aspectDen = c.aspectDen;
        DescribeInput(writer, feed);
        c.choose(writer);
        const std::string path = TempPath(c.extension);
        WriteFeed(writer, feed, path, c.kind);
        std::string shape;
        RunCommand("ffprobe -v error -select_streams v -show_entries stream=display_aspect_ratio -of csv=p=0 " +
                       ShellQuote(path),
                   &shape);
        EXPECT_EQ(shape.substr(0, 4), "16:9");
        EXPECT_EQ(DecodeStamps(path), Range(1, 10));
    }
}

}  // namespace
}  // namespace trimora::test
