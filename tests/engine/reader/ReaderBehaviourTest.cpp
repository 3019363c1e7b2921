// How the reader behaves beyond the basic container matrix: long groups of pictures, exact
// sound, the two streams read independently, dropped frames, odd rates and channel counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <random>
#include <set>

#include "ReaderTestSupport.h"

namespace trimora::test {
namespace {

ClipSpec LongGop() { return H264Spec(300, 250); }

TEST(ReaderLongGop, RandomSeeksAndStepsBackDeliverTheStampedFrame) {
    FfmpegReader reader;
    reader.OpenForReading(MakeClip(LongGop()));
    ASSERT_EQ(reader.NumberOfFrames(), 300);
    std::mt19937 random(11);
    std::vector<int> targets = {250, 251, 249, 300, 1, 2, 299};
    for (int i = 0; i < 25; ++i) targets.push_back(std::uniform_int_distribution<int>(1, 300)(random));
    FrameData frame;
    for (int target : targets) {
        SCOPED_TRACE("frame " + std::to_string(target));
        reader.SeekToFrame(target);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), target);
        EXPECT_EQ(reader.CurrentFrameNumber(), target);
    }
    // Stepping back one frame at a time, as the frame-step buttons do, through a keyframe.
    for (int target = 260; target >= 200; --target) {
        reader.SeekToFrame(target);
        reader.ReadNextVideoFrame(frame);
        ASSERT_EQ(ReadStamp(frame), target);
    }
    // And forward again, across where the steps started.
    reader.SeekToFrame(255);
    for (int expected = 255; expected <= 270; ++expected) {
        reader.ReadNextVideoFrame(frame);
        ASSERT_EQ(ReadStamp(frame), expected);
    }
}

// Frames say which opening they come from: the preview takes two frames with the same source and
// number for the same picture without comparing their bytes, so a cached frame, a stepped-back
// one and a re-read one must all carry the opening's source, and another opening another one.
TEST(ReaderLongGop, EveryFrameOfAnOpeningCarriesItsSourceAndAnotherOpeningAnother) {
    FfmpegReader reader;
    const std::string clip = MakeClip(LongGop());
    reader.OpenForReading(clip);
    FrameData first, again, other;
    auto source = [](const FrameData& frame) { return frame.Source(); };
    auto same = [](const FrameData& a, const FrameData& b) {
        return SameSourceFrame(ViewFrame(a)->header, ViewFrame(b)->header);
    };
    reader.SeekToFrame(120);
    reader.ReadNextVideoFrame(first);
    reader.ReadNextVideoFrame(other);
    reader.SeekToFrame(120);  // from the cache
    reader.ReadNextVideoFrame(again);
    ASSERT_NE(source(first), 0u);
    EXPECT_EQ(source(other), source(first));
    EXPECT_EQ(source(again), source(first));
    EXPECT_TRUE(same(first, again));
    EXPECT_FALSE(same(first, other));

    reader.OpenForReading(clip);
    reader.SeekToFrame(120);
    reader.ReadNextVideoFrame(again);
    EXPECT_NE(source(again), source(first));
    // The same picture from another opening counts as a new one (drawn again, never skipped).
    EXPECT_EQ(ReadStamp(again), 120);
    EXPECT_FALSE(same(first, again));
}

// The frame a seek lands on (a mark's frame) stays at hand after reading far past it, as a job
// does before it shows its first mark again; the frames read on are still kept for stepping
// back, and a landing is never mistaken for another frame.
TEST(ReaderLongGop, GoingBackToWhereASeekLandedNeedsNoDecodingAfterReadingOn) {
    ClipSpec spec = LongGop();
    spec.width = 320;
    spec.height = 240;
    FfmpegReader reader(1u << 20);  // room for about nine of these frames
    reader.OpenForReading(MakeClip(spec));
    FrameData frame;
    for (const int mark : {120, 200}) {
        reader.SeekToFrame(mark);
        reader.ReadNextVideoFrame(frame);
        ASSERT_EQ(ReadStamp(frame), mark);
    }
    reader.SeekToFrame(121);
    for (int expected = 121; expected <= 180; ++expected) {
        reader.ReadNextVideoFrame(frame);
        ASSERT_EQ(ReadStamp(frame), expected);
    }
    const int64_t decoded = reader.PicturesDecoded();
    for (const int mark : {120, 200, 121, 120}) {
        reader.SeekToFrame(mark);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), mark);
        EXPECT_EQ(reader.CurrentFrameNumber(), mark);
    }
    EXPECT_EQ(reader.PicturesDecoded(), decoded);
    // Reading on from a landing decodes the next frame as usual.
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 121);
    // A frame neither kept nor landed on is decoded again, from its keyframe.
    reader.SeekToFrame(150);
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 150);
    EXPECT_GT(reader.PicturesDecoded(), decoded);
}

// The first picture is decoded once at opening, whether the index comes from the container's
// tables (MP4) or from reading every packet (program stream): showing frame 1 afterwards decodes
// nothing more, also where that picture costs enough to make the decoder take its threads (1080p
// picture noise at a camera's bit rate).
TEST(ReaderLongGop, ShowingFrameOneAfterOpeningDecodesNothingMore) {
    const std::string costly = CachedMedia("costly-first-picture", ".mp4", [](const std::string& path) {
        const std::string command =
            "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 3 -vf noise=alls=40:allf=t "
            "-c:v libx264 -preset ultrafast -qp 8 -pix_fmt yuv420p " + ShellQuote(path);
        ASSERT_EQ(RunCommand(command), 0) << command;
    });
    ClipSpec programStream;
    programStream.format = "mpeg2";
    programStream.frames = 30;
    for (const std::string& path : {costly, MakeClip(programStream)}) {
        SCOPED_TRACE(path);
        FfmpegReader reader;
        reader.OpenForReading(path);
        reader.SeekToFrame(1);
        FrameData frame;
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(reader.CurrentFrameNumber(), 1);
        EXPECT_FALSE(frame.empty());
        EXPECT_LE(reader.PicturesDecoded(), 1);
    }
}

// Reading in order (a cut, a playback) keeps only the latest few frames: the decoder gets its
// pictures back and reuses them instead of growing its pool by one for every frame read. The
// latest frames still step back without decoding; further back decodes from the keyframe.
TEST(ReaderLongGop, ReadingInOrderHoldsOnToOnlyAFewPictures) {
    ClipSpec spec = LongGop();
    spec.width = 320;
    spec.height = 240;
    FfmpegReader reader;  // room for hundreds of these frames
    reader.OpenForReading(MakeClip(spec));
    reader.SeekToFrame(10);
    FrameData frame;
    std::set<const uint8_t*> pictures;  // the decoder's buffers the frames came in
    for (int expected = 10; expected <= 140; ++expected) {
        reader.ReadNextVideoFrame(frame);
        ASSERT_EQ(ReadStamp(frame), expected);
        pictures.insert(frame.Picture()->data[0]);
    }
    EXPECT_LE(pictures.size(), 24u);

    const int64_t decoded = reader.PicturesDecoded();
    reader.SeekToFrame(139);
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 139);
    EXPECT_EQ(reader.PicturesDecoded(), decoded);
    reader.SeekToFrame(100);
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 100);
    EXPECT_GT(reader.PicturesDecoded(), decoded);
}

// A frame holds the decoder's own picture, never a copy: a copy of the frame shares it, and
// it keeps its pixels while the reader reads on (the decoder takes other buffers meanwhile),
// after the input is closed and after the reader is gone.
TEST(ReaderDeliveredPictures, AFrameHoldsItsPictureForAsLongAsItIsKept) {
    std::vector<FrameData> kept;
    {
        FfmpegReader reader;
        reader.OpenForReading(MakeClip(LongGop()));
        reader.SeekToFrame(40);
        FrameData frame;
        for (int expected = 40; expected <= 140; ++expected) {
            reader.ReadNextVideoFrame(frame);
            ASSERT_EQ(ReadStamp(frame), expected);
            if (expected % 20 == 0) {
                const FrameData copy = frame;
                EXPECT_TRUE(copy.SharesPictureWith(frame));
                EXPECT_EQ(copy.Picture(), frame.Picture());
                kept.push_back(copy);
            }
        }
        // Stepping back hands out a frame the reader kept: the same picture again.
        reader.SeekToFrame(139);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), 139);
        EXPECT_EQ(frame.FrameNumber(), 139);
        EXPECT_EQ(frame.TimeMs(), 138 * 40);
        reader.Close();
    }
    ASSERT_EQ(kept.size(), 6u);
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(ReadStamp(kept[i]), 40 + 20 * static_cast<int>(i));
        EXPECT_EQ(kept[i].FrameNumber(), 40 + 20 * static_cast<int>(i));
    }
}

TEST(ReaderLongGop, DroppedFramesStillCountOneEachAndTheNextShownFrameIsRight) {
    for (const char* format : {"mp4", "mpeg2", "avi"}) {
        SCOPED_TRACE(format);
        ClipSpec spec = LongGop();
        spec.format = format;
        spec.gop = std::string(format) == "mp4" ? 250 : 15;
        FfmpegReader reader;
        reader.OpenForReading(MakeClip(spec));
        FrameData frame;
        reader.SeekToFrame(10);
        reader.ReadNextVideoFrame(frame);
        ASSERT_EQ(ReadStamp(frame), 10);
        for (int round = 0; round < 20; ++round) {
            const int before = reader.CurrentFrameNumber();
            const int drop = 1 + round % 5;
            reader.DropNotification(drop);
            for (int i = 1; i <= drop; ++i) {
                reader.ReadNextVideoFrame(frame);
                ASSERT_FALSE(frame.empty());
                ASSERT_EQ(reader.CurrentFrameNumber(), before + i);
            }
            reader.ReadNextVideoFrame(frame);
            ASSERT_EQ(ReadStamp(frame), before + drop + 1);
            ASSERT_EQ(reader.CurrentVideoPosition(), (before + drop + 1) * 40);
        }
    }
}

TEST(ReaderSound, PcmAfterASeekIsThePatternFromTheFramesFirstSampleBitForBit) {
    struct Case {
        const char* format;
        const char* frameRate;
        int sampleRate;
        int channels;
    };
    // 30000/1001 at 44100 Hz puts frame starts between samples; 6 channels stay 6.
    for (const Case& c : {Case{"avi", "25", 48000, 2}, Case{"mov", "25", 48000, 2},
                          Case{"avi", "30000/1001", 44100, 1}, Case{"mov", "30000/1001", 44100, 6}}) {
        SCOPED_TRACE(std::string(c.format) + " " + c.frameRate + " " + std::to_string(c.channels));
        ClipSpec spec;
        spec.format = c.format;
        spec.audioCodec = "pcm_s16le";
        spec.frameRate = c.frameRate;
        spec.sampleRate = c.sampleRate;
        spec.channels = c.channels;
        spec.frames = 60;
        FfmpegReader reader;
        reader.OpenForReading(MakeClip(spec));
        ASSERT_EQ(reader.Channels(), c.channels);
        ASSERT_EQ(reader.SampleRate(), c.sampleRate);
        EXPECT_EQ(reader.BitsPerSample(), 16);
        AudioBlock block;
        for (int target : {1, 2, 17, 31, 60}) {
            SCOPED_TRACE("frame " + std::to_string(target));
            reader.SeekToFrame(target);
            const double start = (target - 1) / (std::string(c.frameRate) == "25" ? 25.0 : 30000.0 / 1001);
            EXPECT_EQ(reader.CurrentAudioPosition(), std::lround(start * 1000));
            reader.ReadNextAudioBlock(512, block);
            ASSERT_EQ(block.size(), 512u * c.channels * 2);
            EXPECT_EQ(block, MakePatternBlock(std::llround(start * c.sampleRate), 512, c.sampleRate, c.channels));
        }
        // Straight through from the start the sound is the whole pattern, exactly.
        reader.SeekToPosition(0);
        const std::vector<int16_t> all = ReadAllSound(reader, 2304);
        const int64_t expectedFrames = std::llround(60 / (std::string(c.frameRate) == "25" ? 25.0 : 30000.0 / 1001) * c.sampleRate);
        ASSERT_EQ(static_cast<int64_t>(all.size()), expectedFrames * c.channels);
        const AudioBlock pattern = MakePatternBlock(0, static_cast<int>(expectedFrames), c.sampleRate, c.channels);
        EXPECT_EQ(0, std::memcmp(all.data(), pattern.data(), pattern.size()));
        EXPECT_NEAR(reader.AudioDuration(), expectedFrames * 1000.0 / c.sampleRate, 1);
    }
}

TEST(ReaderSound, ReadingOneStreamFarAheadLosesNothingOfTheOther) {
    for (const char* format : {"mpeg2", "mp4", "avi"}) {
        SCOPED_TRACE(format);
        ClipSpec spec;
        spec.format = format;
        spec.frames = 100;
        const std::string path = MakeClip(spec);
        FfmpegReader reference;
        reference.OpenForReading(path);
        const std::vector<int16_t> sound = ReadAllSound(reference, 2304);

        FfmpegReader reader;
        reader.OpenForReading(path);
        // Sound first, all of it, then every picture.
        EXPECT_EQ(ReadAllSound(reader, 0), sound);
        std::vector<int> expected(100);
        for (int i = 0; i < 100; ++i) expected[i] = i + 1;
        EXPECT_EQ(ReadAllFrames(reader).stamps, expected);
        // Pictures first, then the sound.
        reader.SeekToFrame(1);
        EXPECT_EQ(ReadAllFrames(reader).stamps, expected);
        EXPECT_EQ(ReadAllSound(reader, 2304), sound);
        // Interleaved by time as a cut does, from a mark.
        reader.SeekToFrame(40);
        std::vector<int> stamps;
        std::vector<int16_t> cutSound;
        FrameData frame;
        AudioBlock block;
        bool videoDone = false, audioDone = false;
        while (!videoDone || !audioDone) {
            if (!videoDone && (audioDone || reader.CurrentVideoPosition() <= reader.CurrentAudioPosition())) {
                reader.ReadNextVideoFrame(frame);
                if (frame.empty()) videoDone = true;
                else stamps.push_back(ReadStamp(frame));
            } else {
                reader.ReadNextAudioBlock(2304, block);
                if (block.empty()) audioDone = true;
                const std::vector<int16_t> s = Samples(block);
                cutSound.insert(cutSound.end(), s.begin(), s.end());
            }
        }
        EXPECT_EQ(stamps, std::vector<int>(expected.begin() + 39, expected.end()));
        const size_t from = 39 * 1920 * 2;
        ASSERT_GE(sound.size(), from);
        ASSERT_EQ(cutSound.size(), sound.size() - from);
        // Aligned to the sample: AAC fills some bands with noise from a generator that runs on
        // from the decoder's start, so only the average difference is tiny there.
        double total = 0;
        for (size_t i = 0; i < cutSound.size(); ++i) total += std::abs(cutSound[i] - sound[from + i]);
        EXPECT_LE(total / std::max<size_t>(1, cutSound.size()), 1.0);
    }
}

TEST(ReaderSound, ADamagedPacketIsSkippedButAFileThatShrinksWhileReadRaises) {
    ClipSpec spec;
    spec.audioCodec = "libmp3lame";
    spec.frames = 75;
    // Many times what the reader holds of the file in memory at a time.
    spec.width = 640;
    spec.height = 360;
    const std::string copy = TempPath(".avi");
    std::filesystem::copy_file(MakeClip(spec), copy);
    {
        // The packet of sound at 1.5 s made garbage.
        std::string packets;
        RunCommand("ffprobe -v error -select_streams a -show_entries packet=pts_time,pos,size -of csv=p=0 " +
                       ShellQuote(copy),
                   &packets);
        std::istringstream lines(packets);
        double time = 0;
        long pos = 0, size = 0;
        char comma;
        while (lines >> time >> comma >> size >> comma >> pos && time < 1.5) {
        }
        ASSERT_GT(time, 1.4);
        std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(pos);
        file << std::string(static_cast<size_t>(size), '\x55');
    }
    FfmpegReader whole;
    whole.OpenForReading(MakeClip(spec));
    const std::vector<int16_t> intact = ReadAllSound(whole, 2304);
    FfmpegReader reader;
    reader.OpenForReading(copy);
    // The sound goes on after the damage, in its place: the clicks of 2 s are at the same sample.
    const std::vector<int16_t> sound = ReadAllSound(reader, 2304);
    EXPECT_EQ(sound.size(), intact.size());
    EXPECT_EQ(FindClicks(sound, 2, 48000), FindClicks(intact, 2, 48000));

    // The file loses its last two thirds while both streams are read.
    reader.SeekToFrame(1);
    FrameData frame;
    reader.ReadNextVideoFrame(frame);
    AudioBlock block;
    reader.ReadNextAudioBlock(2304, block);
    std::filesystem::resize_file(copy, std::filesystem::file_size(copy) / 3);
    EXPECT_THROW(ReadAllFrames(reader), EngineError);
    EXPECT_THROW(ReadAllSound(reader, 2304), EngineError);
}

TEST(ReaderInfo, InputWithoutSoundReportsNoSoundAndDeliversNone) {
    ClipSpec spec;
    spec.format = "avi";
    spec.audio = false;
    FfmpegReader reader;
    reader.OpenForReading(MakeClip(spec));
    EXPECT_TRUE(reader.HasVideo());
    EXPECT_FALSE(reader.HasAudio());
    EXPECT_EQ(reader.AudioFormatName(), "");
    EXPECT_EQ(reader.AudioDuration(), 0);
    EXPECT_EQ(reader.AudioBitRate(), 0);
    EXPECT_EQ(reader.SampleRate(), 0);
    EXPECT_EQ(reader.BitsPerSample(), 0);
    EXPECT_EQ(reader.Channels(), 0);
    AudioBlock block;
    reader.ReadNextAudioBlock(2304, block);
    EXPECT_TRUE(block.empty());
    reader.SeekToFrame(20);
    FrameData frame;
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 20);
}

TEST(ReaderInfo, NtscRateIsShownRoundedAndDurationIsTheEndOfTheLastFrame) {
    ClipSpec spec;
    spec.format = "mpeg2";
    spec.frameRate = "30000/1001";
    spec.frames = 90;
    FfmpegReader reader;
    reader.OpenForReading(MakeClip(spec));
    EXPECT_DOUBLE_EQ(reader.FrameRate(), 29.97);
    EXPECT_EQ(reader.NumberOfFrames(), 90);
    EXPECT_EQ(reader.VideoDuration(), std::lround(90 * 1001 / 30.0));
    // The jobs' end time of frame N, N / frames * duration, is where frame N + 1 starts.
    reader.SeekToFrame(46);
    EXPECT_NEAR(reader.CurrentVideoPosition(), 45.0 / 90 * reader.VideoDuration(), 1);
    reader.SeekToPosition(std::lround(45.0 / 90 * reader.VideoDuration()));
    EXPECT_EQ(reader.CurrentFrameNumber(), 45);
}

// Found by the reader's fuzz target: the MPEG-2 decoder passes on any 8-bit colour matrix
// number from the stream. Frames carry only values FFmpeg knows, so whoever converts them
// never meets an enum value that does not exist.
TEST(ReaderInfo, ColourValuesUnknownToFfmpegAreDeliveredAsUnspecified) {
    ClipSpec spec;
    spec.format = "mpeg2";
    spec.frames = 12;
    spec.extraArgs = "-bsf:v mpeg2_metadata=matrix_coefficients=128";
    FfmpegReader reader;
    reader.OpenForReading(MakeClip(spec));
    FrameData frame;
    for (int n = 1; n <= 12; ++n) {
        reader.ReadNextVideoFrame(frame);
        const auto view = ViewFrame(frame);
        ASSERT_TRUE(view) << n;
        EXPECT_EQ(ReadStamp(frame), n);
        EXPECT_EQ(view->header.colorSpace, static_cast<int>(AVCOL_SPC_UNSPECIFIED)) << n;
    }
}

TEST(ReaderInfo, OutOfRangeSeeksAreClampedToTheInput) {
    ClipSpec spec;
    FfmpegReader reader;
    reader.OpenForReading(MakeClip(spec));
    FrameData frame;
    reader.SeekToFrame(0);
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 1);
    reader.SeekToFrame(1000);
    EXPECT_EQ(reader.CurrentFrameNumber(), 50);
    reader.ReadNextVideoFrame(frame);
    EXPECT_TRUE(frame.empty());
    reader.SeekToPosition(-5);
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 1);
}

}  // namespace
}  // namespace trimora::test
