// While a job writes a file it has the reader decode on threads of its own, a few frames and a
// sound block ahead: the frames must be exactly those it would decode itself, failures must
// reach the caller, and no thread may run below the caller's priority.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>
#include <utility>

#include "ReaderTestSupport.h"
#include "engine/ffmpeg/reader/BackgroundDecoder.h"

namespace trimora::test {
namespace {

int OwnNiceness() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

TEST(BackgroundDecoder, RunsEachPieceOnItsOwnThreadAtTheCallersPriorityAndHandsBackFailures) {
    BackgroundDecoder decoder;
    const int callerBefore = OwnNiceness();
    std::thread::id first, second;
    int niceness = 0;
    decoder.Run([&] {
        first = std::this_thread::get_id();
        niceness = OwnNiceness();
    });
    EXPECT_NE(first, std::this_thread::get_id());
    // Below the caller, any other busy program would starve the decoding and the job with it.
    EXPECT_EQ(niceness, callerBefore);
    EXPECT_THROW(decoder.Run([] { throw std::runtime_error("bad packet"); }), std::runtime_error);
    decoder.Start([&] { second = std::this_thread::get_id(); });
    decoder.Wait();
    EXPECT_EQ(second, first);  // one thread, kept
    decoder.Start([] { throw std::runtime_error("bad packet"); });
    EXPECT_THROW(decoder.Wait(), std::runtime_error);
    EXPECT_NO_THROW(decoder.Wait());  // handed back once
}

TEST(ReaderWhileWriting, DecodesInTheBackgroundOnlyWhileAskedToAndEveryFrameIsExact) {
    FfmpegReader reader;
    reader.OpenForReading(MakeClip(H264Spec(120, 50)));
    const int callerBefore = OwnNiceness();
    FrameData frame;
    reader.ReadNextVideoFrame(frame);
    EXPECT_FALSE(reader.LastReadInBackground());
    reader.DecodeInBackground(true);
    // A cut's reads: a seek to the first mark, then every frame in order; then a jump back and
    // a few steps back, as the marks are shown again.
    reader.SeekToFrame(31);
    for (int expected = 31; expected <= 120; ++expected) {
        reader.ReadNextVideoFrame(frame);
        ASSERT_EQ(ReadStamp(frame), expected);
        EXPECT_TRUE(reader.LastReadInBackground());
    }
    reader.ReadNextVideoFrame(frame);
    EXPECT_TRUE(frame.empty());
    for (const int target : {12, 11, 10, 77}) {
        reader.SeekToFrame(target);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), target);
    }
    // Seeks while frames are read ahead, back into them and past them: the frames read next are
    // the new place's.
    for (const auto& [from, to] : {std::pair{40, 45}, std::pair{43, 47}, std::pair{52, 55}, std::pair{30, 33}}) {
        reader.SeekToFrame(from);
        for (int expected = from; expected <= to; ++expected) {
            reader.ReadNextVideoFrame(frame);
            ASSERT_EQ(ReadStamp(frame), expected);
        }
    }
    EXPECT_EQ(OwnNiceness(), callerBefore);
    reader.DecodeInBackground(false);
    reader.SeekToFrame(5);
    reader.ReadNextVideoFrame(frame);
    EXPECT_EQ(ReadStamp(frame), 5);
    EXPECT_FALSE(reader.LastReadInBackground());
}

// While a file is written the next frame and the next sound block are read ahead; what the
// caller gets must be sample for sample what it gets reading in turn, whatever it does between
// reads: a block of another size, the mode switched off in the middle, a seek.
TEST(ReaderWhileWriting, ReadingAheadGivesEverySampleAndFrameExactlyOnce) {
    const std::string clip = MakeClip(H264Spec(100, 25));
    const auto readSound = [&](FfmpegReader& reader, bool ahead) {
        std::vector<int16_t> all;
        std::vector<int32_t> positions;
        AudioBlock block;
        FrameData frame;
        reader.DecodeInBackground(ahead);
        reader.SeekToFrame(11);
        for (int i = 0; i < 40; ++i) {
            // The job's order: a frame, then the sound up to it.
            if (i % 2 == 0) {
                reader.ReadNextVideoFrame(frame);
                EXPECT_EQ(ReadStamp(frame), 11 + i / 2);
            }
            reader.ReadNextAudioBlock(i == 17 ? 1000 : 2304, block);
            const auto samples = Samples(block);
            all.insert(all.end(), samples.begin(), samples.end());
            positions.push_back(reader.CurrentAudioPosition());
            if (i == 25) reader.DecodeInBackground(false);
            if (i == 30) reader.DecodeInBackground(ahead);
        }
        reader.SeekToFrame(60);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), 60);
        reader.ReadNextAudioBlock(2304, block);
        const auto samples = Samples(block);
        all.insert(all.end(), samples.begin(), samples.end());
        positions.push_back(reader.CurrentAudioPosition());
        reader.DecodeInBackground(false);
        return std::make_pair(all, positions);
    };
    FfmpegReader inTurn, ahead;
    inTurn.OpenForReading(clip);
    ahead.OpenForReading(clip);
    const auto expected = readSound(inTurn, false);
    const auto got = readSound(ahead, true);
    ASSERT_EQ(got.first.size(), expected.first.size());
    EXPECT_TRUE(got.first == expected.first);
    EXPECT_EQ(got.second, expected.second);
}

}  // namespace
}  // namespace trimora::test
