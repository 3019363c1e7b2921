// Reading forward decodes ahead on the reader's own thread. Whatever the reads are mixed with
// (seeks near and far, dropped frames, sound read between pictures, reading past the end,
// closing), every frame delivered must be the one the frame numbering names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "ReaderTestSupport.h"

namespace trimora::test {
namespace {

constexpr int kFrames = 160;
constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kSamplesPerFrame = kRate / 25;

ClipSpec Spec(const char* format) {
    ClipSpec spec;
    spec.format = format;
    spec.frames = kFrames;
    spec.gop = std::string(format) == "mp4" ? 100 : 15;
    spec.bFrames = true;
    spec.sampleRate = kRate;
    spec.channels = kChannels;
    return spec;
}

// What the reader must show after each operation.
struct Model {
    int current = 0;         // the frame delivered last
    int64_t soundAt = 0;     // the sample frame the next sound block starts with
};

void ExpectPicture(FfmpegReader& reader, const FrameData& frame, int expected) {
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(ReadStamp(frame), expected);
    EXPECT_EQ(reader.CurrentFrameNumber(), expected);
    EXPECT_EQ(reader.CurrentVideoPosition(), expected * 40);
    const auto view = ViewFrame(frame);
    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(view->header.frameNumber, expected);
    EXPECT_EQ(view->header.timeMs, (expected - 1) * 40);
}

void SeekTo(FfmpegReader& reader, Model& model, int target) {
    reader.SeekToFrame(target);
    const int frame = std::clamp(target, 1, kFrames + 1);
    model.current = frame - 1;
    model.soundAt = static_cast<int64_t>(frame - 1) * kSamplesPerFrame;
    ASSERT_EQ(reader.CurrentFrameNumber(), model.current);
    ASSERT_EQ(reader.CurrentAudioPosition(), (frame - 1) * 40);
}

void ReadInARow(FfmpegReader& reader, Model& model, int count, FrameData& frame) {
    for (int i = 0; i < count; ++i) {
        reader.ReadNextVideoFrame(frame);
        if (model.current >= kFrames) {
            ASSERT_TRUE(frame.empty());
            ASSERT_EQ(reader.CurrentFrameNumber(), kFrames);
            continue;
        }
        ++model.current;
        ASSERT_NO_FATAL_FAILURE(ExpectPicture(reader, frame, model.current));
    }
}

void Drop(FfmpegReader& reader, Model& model, int count, FrameData& frame) {
    reader.DropNotification(count);
    for (int i = 0; i < count; ++i) {
        reader.ReadNextVideoFrame(frame);
        if (model.current >= kFrames) {
            ASSERT_TRUE(frame.empty());
            continue;
        }
        ++model.current;
        ASSERT_FALSE(frame.empty());
        ASSERT_EQ(reader.CurrentFrameNumber(), model.current);
    }
}

void ReadSound(FfmpegReader& reader, Model& model, int blockSize, bool exactPattern) {
    AudioBlock block;
    reader.ReadNextAudioBlock(blockSize, block);
    if (block.empty()) {
        // The sound ends with the last frame, give or take the codec's last packet.
        EXPECT_GE(model.soundAt, static_cast<int64_t>(kFrames - 5) * kSamplesPerFrame);
        return;
    }
    const int64_t sampleFrames = static_cast<int64_t>(block.size()) / (2 * kChannels);
    if (blockSize > 0) {
        EXPECT_LE(sampleFrames, blockSize);
    }
    if (exactPattern) {
        EXPECT_EQ(block, MakePatternBlock(model.soundAt, static_cast<int>(sampleFrames), kRate, kChannels))
            << "sound from sample " << model.soundAt;
    }
    model.soundAt += sampleFrames;
    EXPECT_EQ(reader.CurrentAudioPosition(), std::llround(model.soundAt * 1000.0 / kRate));
}

TEST(ReaderReadAhead, ReadsMixedWithSeeksDropsAndSoundDeliverEveryStampedFrame) {
    for (const char* format : {"mp4", "avi", "mpeg2", "asf"}) {
        SCOPED_TRACE(format);
        const bool pcm = std::string(format) == "avi";
        FfmpegReader reader;
        reader.OpenForReading(MakeClip(Spec(format)));
        ASSERT_EQ(reader.NumberOfFrames(), kFrames);
        std::mt19937 random(std::hash<std::string>{}(format) % 1000);
        const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
        Model model;
        FrameData frame;
        for (int step = 0; step < 220; ++step) {
            SCOPED_TRACE("step " + std::to_string(step) + ", after frame " + std::to_string(model.current));
            switch (pick(0, 9)) {
                case 0:
                    ASSERT_NO_FATAL_FAILURE(SeekTo(reader, model, pick(0, kFrames + 3)));
                    break;
                case 1:
                    // Close by: onto the next frame, back a little, forward a little.
                    ASSERT_NO_FATAL_FAILURE(SeekTo(reader, model, model.current + pick(-3, 4)));
                    break;
                case 2: {
                    const int ms = pick(-100, kFrames * 40 + 100);
                    reader.SeekToPosition(ms);
                    const int target = ms < 0 ? 1 : std::min(ms / 40 + 1, kFrames + 1);
                    model.current = target - 1;
                    model.soundAt = static_cast<int64_t>(target - 1) * kSamplesPerFrame;
                    ASSERT_EQ(reader.CurrentFrameNumber(), model.current);
                    break;
                }
                case 3:
                    ASSERT_NO_FATAL_FAILURE(Drop(reader, model, pick(1, 5), frame));
                    break;
                case 4:
                case 5:
                    ASSERT_NO_FATAL_FAILURE(ReadSound(reader, model, pick(0, 1) ? 2304 : 512, pcm));
                    break;
                default:
                    ASSERT_NO_FATAL_FAILURE(ReadInARow(reader, model, pick(1, 25), frame));
                    break;
            }
        }
    }
}

TEST(ReaderReadAhead, CutLikeInterleavingFromAMarkKeepsPicturesAndSoundInStep) {
    FfmpegReader reader;
    reader.OpenForReading(MakeClip(Spec("avi")));
    for (const int first : {37, 2, 121}) {
        SCOPED_TRACE("from frame " + std::to_string(first));
        Model model;
        ASSERT_NO_FATAL_FAILURE(SeekTo(reader, model, first));
        FrameData frame;
        const int last = std::min(kFrames, first + 30);
        while (model.current < last || reader.CurrentAudioPosition() < last * 40) {
            if (model.current < last && reader.CurrentVideoPosition() <= reader.CurrentAudioPosition())
                ASSERT_NO_FATAL_FAILURE(ReadInARow(reader, model, 1, frame));
            else
                ASSERT_NO_FATAL_FAILURE(ReadSound(reader, model, 2304, true));
        }
    }
}

TEST(ReaderReadAhead, StepsBackAfterReadingToTheEndAndReadsPastIt) {
    for (const char* format : {"mp4", "mpeg2"}) {
        SCOPED_TRACE(format);
        FfmpegReader reader;
        reader.OpenForReading(MakeClip(Spec(format)));
        const Delivered all = ReadAllFrames(reader);
        std::vector<int> expected(kFrames);
        for (int i = 0; i < kFrames; ++i) expected[i] = i + 1;
        EXPECT_EQ(all.stamps, expected);
        EXPECT_EQ(all.numbers, expected);
        EXPECT_EQ(all.headerNumbers, expected);
        FrameData frame;
        for (int i = 0; i < 3; ++i) {
            reader.ReadNextVideoFrame(frame);
            EXPECT_TRUE(frame.empty());
            EXPECT_EQ(reader.CurrentFrameNumber(), kFrames);
        }
        // The frame-step buttons going back from the last frame, then playing on again.
        for (int target = kFrames; target >= kFrames - 40; --target) {
            reader.SeekToFrame(target);
            reader.ReadNextVideoFrame(frame);
            ASSERT_EQ(ReadStamp(frame), target);
        }
        Model model{kFrames - 40, 0};
        ASSERT_NO_FATAL_FAILURE(ReadInARow(reader, model, 45, frame));
        // Playing from the start again after the end.
        model = Model{};
        ASSERT_NO_FATAL_FAILURE(SeekTo(reader, model, 1));
        ASSERT_NO_FATAL_FAILURE(ReadInARow(reader, model, 20, frame));
    }
}

TEST(ReaderReadAhead, ClosingOrOpeningAnotherFileWhileReadingAheadIsClean) {
    const std::string first = MakeClip(Spec("mp4"));
    const std::string second = MakeClip(Spec("mpeg2"));
    FrameData frame;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        FfmpegReader reader;
        reader.OpenForReading(first);
        Model model;
        ASSERT_NO_FATAL_FAILURE(ReadInARow(reader, model, 3 + round, frame));
        if (round % 3 == 0) {
            reader.Close();
            reader.ReadNextVideoFrame(frame);
            EXPECT_TRUE(frame.empty());
            EXPECT_EQ(reader.CurrentFrameNumber(), 0);
        } else if (round % 3 == 1) {
            reader.OpenForReading(second);
            model = Model{};
            ASSERT_NO_FATAL_FAILURE(ReadInARow(reader, model, 10, frame));
        }
        // round % 3 == 2: the reader goes while its thread decodes ahead.
    }
}

}  // namespace
}  // namespace trimora::test
