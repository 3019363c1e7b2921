// Opening, appending and closing: what happens without a file, after a failure, after a cancel,
// and when settings change while a file is open.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/EngineError.h"
#include "engine/ffmpeg/reader/FfmpegReader.h"
#include "WriterTestSupport.h"

namespace trimora::test {
namespace {

TEST(WriterLifecycle, CloseWithNothingOpenIsQuietAndAppendingWithoutAFileThrows) {
    FfmpegWriter writer;
    EXPECT_NO_THROW(writer.Close());
    EXPECT_NO_THROW(writer.Close());
    EXPECT_THROW(writer.AppendVideoFrame(MakeStampedFrame(176, 144, 1, 0)), EngineError);
    EXPECT_THROW(writer.AppendAudioBlock(MakePatternBlock(0, 2304, 48000, 2)), EngineError);

    // The same after a file was written and closed.
    Feed feed;
    feed.frames = 3;
    DescribeInput(writer, feed);
    WriteFeed(writer, feed, TempPath(".avi"), kContainerAvi);
    EXPECT_NO_THROW(writer.Close());
    EXPECT_THROW(writer.AppendVideoFrame(MakeStampedFrame(176, 144, 4, 120)), EngineError);
}

// The writer encodes the very pictures the reader handed out, queued behind the caller, while
// the reader decodes on in the background as a job has it: the copy holds exactly the frames
// read, none overwritten by a later one.
TEST(WriterLifecycle, TheReadersFramesAreWrittenAsHandedWhileTheReaderReadsOn) {
    ClipSpec spec;
    spec.format = "mp4";
    spec.frames = 40;
    spec.gop = 20;
    spec.bFrames = true;
    spec.audio = false;
    FfmpegReader reader;
    reader.OpenForReading(MakeClip(spec));
    FfmpegWriter writer;
    Feed input;
    input.width = reader.Width();
    input.height = reader.Height();
    input.audio = false;
    DescribeInput(writer, input);
    writer.SetAviVideoParameters(input.width, input.height, 25);
    FrameData frame;
    reader.SeekToFrame(11);
    reader.ReadNextVideoFrame(frame);
    reader.DecodeInBackground(true);

    const std::string path = TempPath(".avi");
    writer.CreateOutputFile(path, kContainerAvi);
    writer.AppendVideoFrame(frame);
    for (int expected = 12; expected <= 30; ++expected) {
        reader.ReadNextVideoFrame(frame);
        ASSERT_EQ(ReadStamp(frame), expected);
        writer.AppendVideoFrame(frame);
    }
    writer.Close();
    EXPECT_EQ(DecodeStamps(path), Range(11, 30));
}

TEST(WriterLifecycle, AFileThatCannotBeCreatedIsRefusedWithAReadableReason) {
    FfmpegWriter writer;
    Feed feed;
    DescribeInput(writer, feed);
    const std::string missingFolder = TempDir() + "/no such folder/out.avi";
    try {
        writer.CreateOutputFile(missingFolder, kContainerAvi);
        FAIL() << "a file in a missing folder was created";
    } catch (const EngineError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find(missingFolder), std::string::npos) << text;
        EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
    }
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_THROW(writer.AppendVideoFrame(MakeStampedFrame(176, 144, 1, 0)), EngineError);

    // A folder nobody may write to, not even the administrator.
    EXPECT_THROW(writer.CreateOutputFile("/proc/trimora-output.avi", kContainerAvi), EngineError);
    EXPECT_THROW(writer.CreateOutputFile("", kContainerAvi), EngineError);
    // An encoder setting that cannot work is refused before the file is made.
    const int16_t x264 = CodecNumber(writer, "H.264");
    ASSERT_GT(x264, 0);
    writer.SelectAviCodec(x264);
    CodecSettings bad;
    bad.privateOptions["preset"] = "no-such-preset";
    writer.SetSelectedCodecSettings(bad);
    const std::string refused = TempPath(".avi");
    try {
        writer.CreateOutputFile(refused, kContainerAvi);
        FAIL() << "an impossible encoder setting was accepted";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("H.264"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(std::filesystem::exists(refused));
}

TEST(WriterLifecycle, CloseAfterAPartialWriteGivesAPlayableFileWithEverythingAppended) {
    FfmpegWriter writer;
    Feed feed;
    feed.frames = 50;
    DescribeInput(writer, feed);
    writer.SetMp3Audio(128, feed.sampleRate, feed.channels);
    const std::string path = TempPath(".avi");
    writer.CreateOutputFile(path, kContainerAvi);
    // Cancelled after 17 frames, sound appended up to that point.
    feed.frames = 17;
    AppendFeed(writer, feed);
    // A bad frame ends the job with an error; the file is closed after it all the same.
    EXPECT_THROW(writer.AppendVideoFrame(UnreadableFrame()), EngineError);
    writer.Close();
    EXPECT_EQ(Probe(path).decodeErrors, 0);
    EXPECT_EQ(DecodeStamps(path), Range(1, 17));
    const ProbeInfo info = Probe(path);
    EXPECT_NEAR(info.audioDuration, 17 / 25.0, 0.040 + 0.048);
}

TEST(WriterLifecycle, AWriteFailureIsReportedAtTheNextAppendOrAtClose) {
    // /dev/full takes the header into its buffer, then refuses every byte.
    {
        FfmpegWriter writer;
        Feed feed;
        feed.width = 352;
        feed.height = 288;
        feed.audio = false;
        DescribeInput(writer, feed);
        writer.SelectAviCodec(static_cast<int16_t>(CodecNumber(writer, "Uncompressed")));
        writer.CreateOutputFile("/dev/full", kContainerAvi);
        bool thrown = false;
        try {
            for (int n = 1; n <= 200 && !thrown; ++n)
                writer.AppendVideoFrame(MakeStampedFrame(352, 288, n, (n - 1) * 40));
            writer.Close();
        } catch (const EngineError& error) {
            thrown = true;
            EXPECT_NE(std::string(error.what()).find("No space left"), std::string::npos) << error.what();
        }
        EXPECT_TRUE(thrown);
        try {
            writer.Close();  // finishes what can be finished; the full disk may refuse that too
        } catch (const EngineError&) {
        }
        EXPECT_FALSE(writer.IsOpen());
        EXPECT_NO_THROW(writer.Close());
    }
    {
        FfmpegWriter writer;
        Feed feed;
        feed.frames = 2;
        feed.audio = false;
        DescribeInput(writer, feed);
        writer.CreateOutputFile("/dev/full", kContainerAvi);
        AppendFeed(writer, feed);
        EXPECT_THROW(writer.Close(), EngineError);
        EXPECT_FALSE(writer.IsOpen());
        EXPECT_NO_THROW(writer.Close());
    }
}

TEST(WriterLifecycle, APipeIsWrittenAsAStreamThatCannotGoBack) {
    // A named pipe as the output, read by another program (a thread here): the file cannot be
    // gone back in to fill in its header, and the job must still succeed.
    const std::string pipe = TempPath(".avi");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string copy = TempPath(".avi");
    std::thread reader([&] {
        std::ifstream in(pipe, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    });
    {
        FfmpegWriter writer;
        Feed feed;
        feed.frames = 10;
        DescribeInput(writer, feed);
        writer.CreateOutputFile(pipe, kContainerAvi);
        AppendFeed(writer, feed);
        EXPECT_NO_THROW(writer.Close());
    }
    reader.join();
    EXPECT_EQ(Probe(copy).decodeErrors, 0);
    EXPECT_EQ(DecodeStamps(copy), Range(1, 10));
}

TEST(WriterLifecycle, VideoOnlyWhenTheInputHasNoSound) {
    FfmpegWriter writer;
    Feed feed;
    feed.frames = 10;
    DescribeInput(writer, feed);
    writer.SetHasAudio(false);
    writer.SetMp3Audio(128, 48000, 2);  // ignored without sound
    for (const int kind : {kContainerAvi, kContainerMpeg, kContainerWindowsMedia}) {
        SCOPED_TRACE(kind);
        writer.SetMpegVideoParameters(1, 1150, 176, 144, 25);
        const std::string path = TempPath(kind == kContainerAvi ? ".avi" : kind == kContainerMpeg ? ".mpg" : ".wmv");
        writer.CreateOutputFile(path, kind);
        AppendFeed(writer, feed);  // its sound blocks are dropped
        writer.Close();
        const ProbeInfo info = Probe(path);
        EXPECT_FALSE(info.videoCodec.empty());
        EXPECT_EQ(info.audioCodec, "");
        EXPECT_EQ(DecodeStamps(path), Range(1, 10));
    }
}

TEST(WriterLifecycle, SoundOnlyWhenTheInputHasNoPicture) {
    FfmpegWriter writer;
    writer.CopyAudioFormat(44100, 2);
    writer.SetHasVideo(false);
    writer.SetHasAudio(true);
    writer.SetAdpcmAudio(44100, 2);
    const std::string path = TempPath(".avi");
    writer.CreateOutputFile(path, kContainerAvi);
    writer.AppendVideoFrame(MakeStampedFrame(176, 144, 1, 0));  // dropped: there is no picture
    for (int64_t first = 0; first < 44100 * 2; first += 2304)  // 2 s: the clicks at 0 s and 1 s
        writer.AppendAudioBlock(MakePatternBlock(first, static_cast<int>(std::min<int64_t>(2304, 44100 * 2 - first)),
                                                 44100, 2));
    writer.Close();
    const ProbeInfo info = Probe(path);
    EXPECT_EQ(info.videoCodec, "");
    EXPECT_EQ(info.audioCodec, "adpcm_ima_wav");
    int rate = 0, channels = 0;
    const std::vector<int16_t> sound = DecodeAudio(path, &rate, &channels);
    const std::vector<double> clicks = FindClicks(sound, channels, rate);
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_NEAR(clicks[0], 0.0, 0.002);
    EXPECT_NEAR(clicks[1], 1.0, 0.002);
}

TEST(WriterLifecycle, ChangesWhileAFileIsOpenWaitForTheNextFile) {
    FfmpegWriter writer;
    const int16_t mjpeg = CodecNumber(writer, "Motion JPEG");
    ASSERT_GT(mjpeg, 0);
    writer.SelectAviCodec(static_cast<int16_t>(writer.AviCodecCount()));
    Feed feed;
    feed.frames = 10;
    DescribeInput(writer, feed);
    writer.SetPcmAudio(48000, 2, 16);
    writer.SetAviVideoParameters(176, 144, 25);
    const std::string first = TempPath(".avi");
    writer.CreateOutputFile(first, kContainerAvi);
    feed.frames = 5;
    AppendFeed(writer, feed);
    // The user picks another codec, size, rate and sound in the middle of the file.
    writer.SelectAviCodec(mjpeg);
    writer.SetAviVideoParameters(320, 240, 10);
    writer.SetGsmAudio(48000);
    writer.CopyVideoFormat(320, 240, 10);
    feed.firstFrame = 6;
    AppendFeed(writer, feed);
    writer.Close();

    ProbeInfo info = Probe(first);
    EXPECT_EQ(info.videoCodec, "mpeg4");
    EXPECT_EQ(info.width, 176);
    EXPECT_EQ(info.audioCodec, "pcm_s16le");
    EXPECT_EQ(DecodeStamps(first), Range(1, 10));

    const std::string second = TempPath(".avi");
    writer.CreateOutputFile(second, kContainerAvi);
    writer.Close();
    info = Probe(second);
    EXPECT_EQ(info.videoCodec, "mjpeg");
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.audioCodec, "gsm_ms");
}

TEST(WriterLifecycle, ANewFileStartsItsOwnClockAtTheFirstFrame) {
    // The second part of a split starts in the middle of the input.
    FfmpegWriter writer;
    Feed feed;
    DescribeInput(writer, feed);
    writer.SetPcmAudio(48000, 2, 16);
    writer.SetAviVideoParameters(176, 144, 25);
    const std::string path = TempPath(".avi");
    writer.CreateOutputFile(path, kContainerAvi);
    feed.firstFrame = 21;
    feed.frames = 40;  // frames 21..60, sound from 0.8 s: clicks at 1 s and 2 s of the input
    AppendFeed(writer, feed);
    writer.Close();
    const std::vector<int> stamps = DecodeStamps(path);
    EXPECT_EQ(stamps, Range(21, 60));
    EXPECT_NEAR(Probe(path).audioDuration, 1.6, 0.01);
    ExpectClicksOnTheirFrames(path, stamps, 25, feed, 2);
}

}  // namespace
}  // namespace trimora::test
