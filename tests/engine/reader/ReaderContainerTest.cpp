// Every input container the program opens, made on the fly with stamped pictures and a sound
// pattern, read back through the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>

#include "ReaderTestSupport.h"
#include "support/GstClips.h"

namespace trimora::test {
namespace {

class ReaderContainerTest : public testing::TestWithParam<const char*> {
protected:
    static ClipSpec Spec(const std::string& format) {
        ClipSpec spec;
        spec.format = format;
        spec.frames = 50;
        spec.gop = 12;
        return spec;
    }
    static constexpr int kFrames = 50;
};

TEST_P(ReaderContainerTest, DeliversEveryFrameOnceInOrderAndCountsThemExactly) {
    const std::string path = MakeClip(Spec(GetParam()));
    FfmpegReader reader;
    reader.OpenForReading(path);
    ASSERT_TRUE(reader.HasVideo());
    EXPECT_EQ(reader.NumberOfFrames(), kFrames);
    EXPECT_EQ(reader.CurrentFrameNumber(), 0);
    const Delivered d = ReadAllFrames(reader);
    std::vector<int> expected(kFrames);
    for (int i = 0; i < kFrames; ++i) expected[i] = i + 1;
    EXPECT_EQ(d.stamps, expected);
    EXPECT_EQ(d.numbers, expected);
    EXPECT_EQ(d.headerNumbers, expected);
    // Past the end: nothing, and the frame number stays on the last frame.
    FrameData frame;
    reader.ReadNextVideoFrame(frame);
    EXPECT_TRUE(frame.empty());
    EXPECT_EQ(reader.CurrentFrameNumber(), kFrames);
    EXPECT_EQ(reader.CurrentVideoPosition(), reader.VideoDuration());
}

TEST_P(ReaderContainerTest, DescribesTheInput) {
    const std::string path = MakeClip(Spec(GetParam()));
    FfmpegReader reader;
    reader.OpenForReading(path);
    EXPECT_EQ(reader.Width(), 176);
    EXPECT_EQ(reader.Height(), 144);
    EXPECT_DOUBLE_EQ(reader.FrameRate(), 25.0);
    EXPECT_EQ(reader.VideoDuration(), 2000);
    EXPECT_FALSE(reader.VideoCodecName().empty());
    EXPECT_GT(reader.VideoBitRate(), 0);
    ASSERT_TRUE(reader.HasAudio());
    EXPECT_EQ(reader.SampleRate(), 48000);
    EXPECT_EQ(reader.Channels(), 2);
    EXPECT_FALSE(reader.AudioFormatName().empty());
    EXPECT_GT(reader.AudioBitRate(), 0);
    EXPECT_NEAR(reader.AudioDuration(), 2000, 60);
    if (std::string(GetParam()).rfind("avi", 0) == 0) {
        EXPECT_EQ(reader.BitsPerSample(), 16);
        EXPECT_EQ(reader.AudioBitRate(), 1536);
    } else {
        EXPECT_EQ(reader.BitsPerSample(), 0);
    }
}

TEST_P(ReaderContainerTest, SeekToFrameMakesThatFrameTheNextOne) {
    const std::string path = MakeClip(Spec(GetParam()));
    FfmpegReader reader;
    reader.OpenForReading(path);
    std::mt19937 random(7);
    std::vector<int> targets = {1, kFrames, 13, 12, 2, kFrames - 1, 25};
    for (int i = 0; i < 12; ++i) targets.push_back(std::uniform_int_distribution<int>(1, kFrames)(random));
    FrameData frame;
    for (int target : targets) {
        SCOPED_TRACE("frame " + std::to_string(target));
        reader.SeekToFrame(target);
        EXPECT_EQ(reader.CurrentFrameNumber(), target - 1);
        EXPECT_EQ(reader.CurrentVideoPosition(), (target - 1) * 40);
        EXPECT_EQ(reader.CurrentAudioPosition(), (target - 1) * 40);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), target);
        EXPECT_EQ(reader.CurrentFrameNumber(), target);
        EXPECT_EQ(reader.CurrentVideoPosition(), target * 40);
        if (target < kFrames) {
            reader.ReadNextVideoFrame(frame);
            EXPECT_EQ(ReadStamp(frame), target + 1);
        }
    }
}

TEST_P(ReaderContainerTest, SeekToPositionFindsTheFrameHoldingThatTime) {
    const std::string path = MakeClip(Spec(GetParam()));
    FfmpegReader reader;
    reader.OpenForReading(path);
    FrameData frame;
    // 40 ms frames: 0-39 is frame 1, 40 is frame 2, 1999 the last.
    for (auto [time, expected] : std::vector<std::pair<int, int>>{{0, 1}, {39, 1}, {40, 2}, {1000, 26}, {1019, 26},
                                                                  {1999, 50}, {517, 13}}) {
        SCOPED_TRACE("time " + std::to_string(time));
        reader.SeekToPosition(time);
        EXPECT_EQ(reader.CurrentFrameNumber(), expected - 1);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), expected);
    }
    // At the end: no frame follows, and the frame number says the last one was passed.
    reader.SeekToPosition(reader.VideoDuration());
    EXPECT_EQ(reader.CurrentFrameNumber(), kFrames);
    reader.ReadNextVideoFrame(frame);
    EXPECT_TRUE(frame.empty());
    reader.SeekToPosition(0);
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 1);
}

TEST_P(ReaderContainerTest, SoundBlocksOfTheWholeFileAddUpToTheAudioDuration) {
    const std::string path = MakeClip(Spec(GetParam()));
    FfmpegReader reader;
    reader.OpenForReading(path);
    for (int blockSize : {2304, 0}) {
        SCOPED_TRACE("block size " + std::to_string(blockSize));
        reader.SeekToPosition(0);
        int blocks = 0;
        const std::vector<int16_t> sound = ReadAllSound(reader, blockSize, &blocks);
        const double ms = sound.size() / 2 * 1000.0 / 48000;
        EXPECT_NEAR(ms, reader.AudioDuration(), 48.0);
        EXPECT_NEAR(reader.CurrentAudioPosition(), ms, 1.0);
        EXPECT_GT(blocks, 1);
        // The clicks of the pattern sit at whole seconds of the input's time line. (Some codecs
        // swallow the very first one while they warm up.)
        const std::vector<double> clicks = FindClicks(sound, 2, 48000);
        ASSERT_FALSE(clicks.empty());
        bool second = false;
        for (double click : clicks) {
            EXPECT_NEAR(click, std::round(click), 0.004);
            second |= std::round(click) == 1.0;
        }
        EXPECT_TRUE(second);
    }
}

TEST_P(ReaderContainerTest, SoundAfterASeekStartsAtTheFramesStart) {
    const std::string path = MakeClip(Spec(GetParam()));
    FfmpegReader reader;
    reader.OpenForReading(path);
    const std::vector<int16_t> whole = ReadAllSound(reader, 2304);
    AudioBlock block;
    for (int target : {24, 7, 40, 1, 26}) {
        SCOPED_TRACE("frame " + std::to_string(target));
        reader.SeekToFrame(target);
        reader.ReadNextAudioBlock(2304, block);
        ASSERT_EQ(block.size(), 2304u * 4);
        EXPECT_EQ(reader.CurrentAudioPosition(), (target - 1) * 40 + 48);
        const std::vector<int16_t> got = Samples(block);
        const size_t offset = static_cast<size_t>(target - 1) * 1920 * 2;
        ASSERT_LE(offset + got.size(), whole.size());
        // The same samples as reading straight through from the start: the decoders settle
        // within the run-in before the target. Matroska stores times in milliseconds, which
        // places sound after a seek within half a millisecond only.
        const int slack = std::string(GetParam()) == "mkv" ? 24 : 0;
        int bestShift = 0;
        int bestWorst = INT32_MAX;
        for (int shift = -slack; shift <= slack; ++shift) {
            const long from = static_cast<long>(offset) + shift * 2;
            if (from < 0 || from + static_cast<long>(got.size()) > static_cast<long>(whole.size())) continue;
            int worst = 0;
            for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - whole[from + i]));
            if (worst < bestWorst) {
                bestWorst = worst;
                bestShift = shift;
            }
        }
        EXPECT_LE(bestWorst, 2) << "best shift " << bestShift;
    }
}

// The reader counts exactly the pictures `shown` (their stamps, in the order a straight decode
// shows them), delivers them numbered 1, 2, ... and finds each frame of `targets` after a seek;
// `audioAtSeeks`: the sound's position lands on the frame's start too.
void ExpectPicturesAndSeeks(const std::string& path, const std::vector<int>& shown, const std::vector<int>& targets,
                            bool audioAtSeeks = false) {
    const int count = static_cast<int>(shown.size());
    FfmpegReader reader;
    reader.OpenForReading(path);
    EXPECT_EQ(reader.NumberOfFrames(), count);
    EXPECT_EQ(reader.VideoDuration(), count * 40);
    const Delivered d = ReadAllFrames(reader);
    EXPECT_EQ(d.stamps, shown);
    std::vector<int> numbers(shown.size());
    std::iota(numbers.begin(), numbers.end(), 1);
    EXPECT_EQ(d.numbers, numbers);
    FrameData frame;
    for (int target : targets) {
        SCOPED_TRACE("frame " + std::to_string(target));
        reader.SeekToFrame(target);
        if (audioAtSeeks) {
            EXPECT_EQ(reader.CurrentAudioPosition(), (target - 1) * 40);
        }
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), shown[static_cast<size_t>(target - 1)]);
        EXPECT_EQ(reader.CurrentVideoPosition(), target * 40);
    }
}

// Recordings as they come (see MakeRecording): a clock that restarts, a start in the middle of a
// group, lost sound, a missing end, a damaged picture. Frames are the pictures a straight decode
// shows, in its order, and the sound runs beside them.
class RecordingTest : public testing::TestWithParam<const char*> {};

TEST_P(RecordingTest, FramesAreThePicturesAStraightDecodeShowsAndSeeksFindThem) {
    const std::string path = MakeRecording(GetParam());
    // A picture that cannot be decoded leaves the one before in its place, as players show it.
    // Where the size changes, FFmpeg's own decode loses the last picture of the old size, and
    // where the programme moves to other packet identifiers it ends with the first programme:
    // there the pictures are the ones the file holds.
    std::vector<int> shown(160);
    std::iota(shown.begin(), shown.end(), 1);
    // FFmpeg's own decode of H.264 with B-frames in AVI starts its pictures two frames late (it
    // times them by decode order), so it is no reference there: the frame of the picture that
    // cannot be read shows the one before, and every other frame its own.
    if (std::string(GetParam()) == "damaged-b-avi") {
        shown.resize(100);
        std::iota(shown.begin(), shown.end(), 1);
        shown[41] = 41;
    } else if (std::string(GetParam()) != "joined-formats-ts" && std::string(GetParam()) != "programme-change-ts") {
        shown = DecodeStamps(path, std::string(GetParam()) == "damaged");
    }
    ASSERT_GE(shown.size(), 40u);
    std::vector<int> targets;
    for (int target = 1; target <= static_cast<int>(shown.size()); target += 7) targets.push_back(target);
    ExpectPicturesAndSeeks(path, shown, targets, true);
    // From the end back, each seek starting the decoding at its group's keyframe: one that ends a
    // stream comes out of the demuxer only at the end of the file. (Where a picture is damaged,
    // which earlier picture stands in for it depends on how far the decoding got before.)
    if (std::string(GetParam()) == "damaged") return;
    FfmpegReader reader;
    reader.OpenForReading(path);
    FrameData frame;
    for (auto target = targets.rbegin(); target != targets.rend(); ++target) {
        SCOPED_TRACE("back to frame " + std::to_string(*target));
        reader.SeekToFrame(*target);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), shown[static_cast<size_t>(*target - 1)]);
    }
}

TEST_P(RecordingTest, TheSoundRunsBesideThePictures) {
    const std::string path = MakeRecording(GetParam());
    FfmpegReader reader;
    reader.OpenForReading(path);
    ASSERT_TRUE(reader.HasAudio());
    FrameData frame;
    reader.ReadNextVideoFrame(frame);
    const int firstStamp = ReadStamp(frame);
    const std::vector<int16_t> whole = ReadAllSound(reader, 2304);
    // A sound whose format changes on the way is given out in the widest of its formats: the
    // stereo part keeps its two channels (300 and 360 Hz), however the file ends.
    const int rate = reader.SampleRate(), channels = reader.Channels();
    if (std::string(GetParam()) == "joined-formats-ts") {
        ASSERT_EQ(rate, 48000);
        ASSERT_EQ(channels, 2);
        double apart = 0;
        const size_t from = 4800, to = 144000;  // 0.1 s to 3 s, the first clip's
        ASSERT_GT(whole.size(), to * 2);
        for (size_t i = from; i < to; ++i) apart += std::abs(whole[2 * i] - whole[2 * i + 1]);
        EXPECT_GT(apart / static_cast<double>(to - from), 1000);
    }
    const double seconds = static_cast<double>(whole.size()) / channels / rate;
    EXPECT_NEAR(seconds * 1000, reader.VideoDuration(), 100);
    // The pattern's clicks lie at whole seconds of the frames' stamps: where frame 1 (stamp s)
    // starts, the pattern is at (s - 1) frames.
    const double lead = (firstStamp - 1) * 0.04;
    std::vector<double> expected;
    for (int second = 0; second < 10; ++second)
        if (second - lead >= 0 && second - lead < seconds - 0.05) expected.push_back(second - lead);
    const std::vector<double> clicks = FindClicks(whole, channels, rate);
    ASSERT_EQ(clicks.size(), expected.size());
    for (size_t i = 0; i < clicks.size(); ++i) EXPECT_NEAR(clicks[i], expected[i], 0.004) << i;
    // Sound of another rate is resampled, and a resampler started at a seek samples a fraction of
    // a sample away from one that ran from the start: there the clicks above pin the sound's place.
    if (std::string(GetParam()) == "joined-formats-ts") return;
    AudioBlock block;
    for (int target = 1; target <= reader.NumberOfFrames(); target += 7) {
        SCOPED_TRACE("frame " + std::to_string(target));
        reader.SeekToFrame(target);
        reader.ReadNextAudioBlock(2304, block);
        const std::vector<int16_t> got = Samples(block);
        const size_t offset = static_cast<size_t>(target - 1) * static_cast<size_t>(rate / 25 * channels);
        if (offset + got.size() > whole.size()) continue;
        int worst = 0;
        for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - whole[offset + i]));
        // AAC decoded from a seek's run-in comes within a few steps of the straight decoding.
        EXPECT_LE(worst, std::string(GetParam()) == "programme-change-ts" ? 4 : 2);
    }
}

// Video without times: as the encoder gives it, in no container (a camera's or a recorder's
// .h264 file), or put into a program stream without them. B-pictures are shown in another order
// than they are stored.
class BareStreamTest : public testing::TestWithParam<const char*> {};

TEST_P(BareStreamTest, FramesAreShownInTheirOwnOrderAndSeeksFindThem) {
    ClipSpec spec;
    spec.format = GetParam();
    spec.frames = 50;
    spec.audio = false;
    const std::string path = spec.format == "untimed-mpg" ? MakeRecording(spec.format) : MakeClip(spec);
    std::vector<int> shown(spec.format == "untimed-mpg" ? 100 : 50);
    std::iota(shown.begin(), shown.end(), 1);
    ExpectPicturesAndSeeks(path, shown, {26, 3, static_cast<int>(shown.size()), 13, 1, 38});
    FfmpegReader reader;
    reader.OpenForReading(path);
    EXPECT_FALSE(reader.HasAudio());
    EXPECT_DOUBLE_EQ(reader.FrameRate(), 25.0);
}

INSTANTIATE_TEST_SUITE_P(Bare, BareStreamTest, testing::Values("h264", "hevc", "untimed-mpg"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

INSTANTIATE_TEST_SUITE_P(Recordings, RecordingTest,
                         testing::Values("joined-ts", "joined-mpg", "joined-formats-ts", "remuxed-mpg", "ts-cut-start",
                                         "ts-cut-start-high-rate", "lossy-ts", "lossy-mkv", "programme-change-ts", "avi-cut-end", "avi-index-cut-short", "damaged", "damaged-b-avi"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

INSTANTIATE_TEST_SUITE_P(Containers, ReaderContainerTest,
                         testing::Values("avi", "avi-h264", "mpeg1", "mpeg2", "ts", "asf", "mov", "mp4", "mkv"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// The same pictures and sound written by GStreamer's muxers, which lay files out their own way
// (an AVI that starts with sound chunks and marks no sound chunk as a place to start, ...).
struct GstCase {
    GstClipSpec spec;
    int delay;  // sample frames the encoder puts before the first input sample
};

void PrintTo(const GstCase& c, std::ostream* out) { *out << GstClipName(c.spec); }

class GstContainerTest : public testing::TestWithParam<GstCase> {};

TEST_P(GstContainerTest, SoundFromAnySeekIsTheInputsToTheSample) {
    const GstClipSpec& spec = GetParam().spec;
    const int rate = spec.sampleRate;
    const int channels = spec.channels;
    FfmpegReader reader;
    reader.OpenForReading(MakeGstClip(spec));
    ASSERT_TRUE(reader.HasAudio());
    ASSERT_EQ(reader.SampleRate(), rate);
    ASSERT_EQ(reader.Channels(), channels);

    // Straight through from the start: the click of every second where the input has it.
    const std::vector<int16_t> whole = ReadAllSound(reader, 2304);
    EXPECT_NEAR(static_cast<double>(whole.size()) / channels, static_cast<double>(rate) * spec.frames / 25, rate / 10);
    std::vector<int64_t> clicks;
    for (double click : FindClicks(whole, channels, rate)) clicks.push_back(std::llround(click * rate));
    EXPECT_TRUE(std::find(clicks.begin(), clicks.end(), rate + GetParam().delay) != clicks.end())
        << "clicks at " << testing::PrintToString(clicks);
    if (spec.audio == "pcm") {
        int worst = 0;
        for (size_t i = 0; i < whole.size(); ++i)
            worst = std::max(worst, std::abs(whole[i] - PatternSample(static_cast<int64_t>(i / channels),
                                                                      static_cast<int>(i % channels), rate)));
        EXPECT_EQ(worst, 0);
    }

    // After a seek to a frame: the same samples as straight through, from the frame's start.
    AudioBlock block;
    for (int target : {24, 7, 40, 26, 1}) {
        SCOPED_TRACE("frame " + std::to_string(target));
        reader.SeekToFrame(target);
        reader.ReadNextAudioBlock(rate / 5, block);
        ASSERT_EQ(block.size(), static_cast<size_t>(rate / 5) * channels * 2);
        const std::vector<int16_t> got = Samples(block);
        const size_t offset = static_cast<size_t>(target - 1) * (rate / 25) * channels;
        ASSERT_LE(offset + got.size(), whole.size());
        int worst = 0, loudest = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            worst = std::max(worst, std::abs(got[i] - whole[offset + i]));
            loudest = std::max(loudest, std::abs(static_cast<int>(got[i])));
        }
        EXPECT_LE(worst, 2);
        EXPECT_GT(loudest, 1000);
    }
}

// The pictures a straight decode shows (GStreamer's WMV encoder keeps the last one back).
TEST_P(GstContainerTest, EveryPictureOnceInOrderAndSeeksFindThem) {
    const std::string path = MakeGstClip(GetParam().spec);
    const std::vector<int> shown = DecodeStamps(path, false);
    ASSERT_GE(shown.size(), 40u);
    ExpectPicturesAndSeeks(path, shown, {26, 3, static_cast<int>(shown.size()), 13, 1});
}

GstCase Gst(std::string container, std::string video, std::string audio, int rate = 48000, int channels = 2,
            int delay = 0, int width = 176, int height = 144) {
    GstCase c;
    c.spec.container = std::move(container);
    c.spec.video = std::move(video);
    c.spec.audio = std::move(audio);
    c.spec.sampleRate = rate;
    c.spec.channels = channels;
    c.spec.width = width;
    c.spec.height = height;
    c.delay = delay;
    return c;
}

INSTANTIATE_TEST_SUITE_P(Muxers, GstContainerTest,
                         testing::Values(Gst("avi", "mjpeg", "pcm"), Gst("avi", "h264", "pcm", 8000, 1),
                                         Gst("avi", "mpeg4", "mp3", 48000, 2, 1105),
                                         Gst("avi", "mjpeg", "pcm", 48000, 6, 0, 175, 143),
                                         Gst("mpeg", "h264", "mp2", 48000, 2, 481), Gst("mpeg", "h264b", "mp2", 48000, 2, 481),
                                         Gst("ts", "h264b", "mp2", 48000, 2, 481), Gst("asf", "wmv2", "wma", 48000, 2, 2048),
                                         Gst("asf_straight", "wmv2", "wma", 48000, 2, 2048), Gst("mov", "h264", "pcm")),
                         [](const testing::TestParamInfo<GstCase>& info) { return GstClipName(info.param.spec); });

// A DVD's programme stream with two sound tracks: the first (the film's, AC-3 at 44.1 kHz here)
// is the one players play, not the one of the higher bit rate after it (a commentary, MP2).
TEST(SoundTracks, TheFirstTrackIsTakenAsPlayersTakeIt) {
    const std::string path = CachedMedia("two sound tracks", ".vob", [](const std::string& out) {
        RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi "
                   "-i sine=sample_rate=44100 -f lavfi -i sine=sample_rate=48000 -map 0 -map 1 -map 2 -t 1 "
                   "-c:v mpeg2video -c:a:0 ac3 -b:a:0 96k -c:a:1 mp2 -b:a:1 384k -f vob " + ShellQuote(out));
    });
    FfmpegReader reader;
    reader.OpenForReading(path);
    ASSERT_TRUE(reader.HasAudio());
    EXPECT_EQ(reader.SampleRate(), 44100);
    // A second of it, to within an AC-3 frame.
    EXPECT_NEAR(static_cast<double>(ReadAllSound(reader, 2304).size() / reader.Channels()), 44100, 1536);
}

// A clip stored on its side, as a phone stores what it films upright: pictures of 98x62 in MP4
// whose track header names the turn (clockwise, to be seen as meant) in its matrix.
std::string TurnedClip(int degrees, const std::string& encoding) {
    return CachedMedia("turned 98x62|" + std::to_string(degrees) + "|" + encoding, ".mp4", [&](const std::string& path) {
        RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=98x62:rate=25 -frames:v 30 " + encoding +
                   " -g 10 " + ShellQuote(path));
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        // tkhd (version 0): after its type, version and flags, two times, the track, a reserved
        // word, the duration, 8 reserved bytes, layer, group, volume and 2 reserved: the matrix.
        const size_t tkhd = bytes.find("tkhd");
        ASSERT_NE(tkhd, std::string::npos);
        const size_t matrixAt = tkhd + 4 + 4 + 20 + 8 + 8;
        const double radians = degrees * M_PI / 180;
        const int32_t c = static_cast<int32_t>(std::lround(std::cos(radians) * 65536));
        const int32_t s = static_cast<int32_t>(std::lround(std::sin(radians) * 65536));
        const int32_t matrix[9] = {c, s, 0, -s, c, 0, 0, 0, 1 << 30};
        for (int i = 0; i < 9; ++i)
            for (int b = 0; b < 4; ++b)
                bytes[matrixAt + 4 * i + b] = static_cast<char>((static_cast<uint32_t>(matrix[i]) >> (24 - 8 * b)) & 0xFF);
        file.seekp(0);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(file.good());
    });
}

// The luma of a picture in 8-bit 4:4:4, converted as the ffmpeg command converts.
std::string Luma444(const AVFrame& p) {
    ff::SwsPtr scaler(sws_getContext(p.width, p.height, static_cast<AVPixelFormat>(p.format), p.width, p.height,
                                     AV_PIX_FMT_YUV444P, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler) return {};
    ff::FramePtr out = ff::MakeFrame();
    out->format = AV_PIX_FMT_YUV444P;
    out->width = p.width;
    out->height = p.height;
    if (av_frame_get_buffer(out.get(), 0) < 0) return {};
    sws_scale(scaler.get(), p.data, p.linesize, 0, p.height, out->data, out->linesize);
    std::string luma;
    for (int y = 0; y < p.height; ++y)
        luma.append(reinterpret_cast<const char*>(out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0]),
                    static_cast<size_t>(p.width));
    return luma;
}

struct Turn {
    int degrees;
    const char* name;
    const char* encoding;  // ffmpeg options
};

class TurnedClipTest : public testing::TestWithParam<Turn> {};

// The reader hands out the pictures upright, as the ffmpeg command shows them: the size as seen
// and every picture's luma the same to the byte, when read in order and when sought.
TEST_P(TurnedClipTest, PicturesStandUprightAsTheCommandShowsThem) {
    const Turn t = GetParam();
    const std::string path = TurnedClip(t.degrees, t.encoding);
    const bool quarter = t.degrees != 180;
    FfmpegReader reader;
    reader.OpenForReading(path);
    ASSERT_EQ(reader.Width(), quarter ? 62 : 98);
    ASSERT_EQ(reader.Height(), quarter ? 98 : 62);
    std::string raw;
    // 4:4:4 keeps the luma as decoded (gray would map its range).
    RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) + " -f rawvideo -pix_fmt yuv444p - 2>/dev/null", &raw);
    const size_t lumaBytes = static_cast<size_t>(reader.Width()) * reader.Height();
    ASSERT_EQ(raw.size(), 30 * 3 * lumaBytes) << "the command does not show 30 pictures of the turned size";
    const auto sameLuma = [&](const FrameData& frame, int number) {
        const AVFrame* p = frame.Picture();
        return p && p->width == reader.Width() && p->height == reader.Height() &&
               Luma444(*p) == raw.substr((static_cast<size_t>(number) - 1) * 3 * lumaBytes, lumaBytes);
    };
    FrameData frame;
    for (int number = 1; number <= 30; ++number) {
        reader.ReadNextVideoFrame(frame);
        EXPECT_TRUE(sameLuma(frame, number)) << "frame " << number;
    }
    for (int number : {17, 3, 29}) {
        reader.SeekToFrame(number);
        reader.ReadNextVideoFrame(frame);
        EXPECT_TRUE(sameLuma(frame, number)) << "frame " << number << " sought";
    }
}

INSTANTIATE_TEST_SUITE_P(Turns, TurnedClipTest,
                         testing::Values(Turn{90, "yuv420p", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
                                         Turn{180, "yuv420p", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
                                         Turn{270, "yuv420p", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
                                         Turn{90, "yuv422p", "-c:v libx264 -preset ultrafast -pix_fmt yuv422p"},
                                         Turn{270, "yuv420p10", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p10le"},
                                         Turn{90, "rgb24", "-c:v png -pix_fmt rgb24"},
                                         Turn{270, "gbrp", "-c:v libx264rgb -preset ultrafast -pix_fmt rgb24"}),
                         [](const auto& info) { return std::to_string(info.param.degrees) + "_" + info.param.name; });

}  // namespace
}  // namespace trimora::test
