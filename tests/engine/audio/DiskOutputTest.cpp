// What reaches the sound device, byte for byte: SDL's disk driver writes every buffer the device
// plays into a file, silence included.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "AudioTestHelpers.h"
#include "engine/audio/SdlAudioPlayer.h"

namespace trimora {
namespace {

using namespace audiotest;

class DiskOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        player = std::make_unique<SdlAudioPlayer>();
        player->SetEventHandler(&events);
        ASSERT_GE(player->NumberOfDevices(), 1);
        player->SelectDevice(0);
        player->SetFirstSetupValue(0xFFFF);
        player->SetSecondSetupValue(50);
    }
    void TearDown() override { player.reset(); }

    // Queues all blocks, plays them to the end and returns what the device wrote.
    DiskRecording PlayToEnd(int rate, int channels, const std::vector<AudioBlock>& blocks,
                            int deviceChannels) {
        player->SetPlaybackFormat(rate, channels);
        player->FollowUp(0);
        for (const AudioBlock& block : blocks) player->QueueBlock(block);
        player->BeginPlaying();
        opened = player->OpenDeviceFormat();
        EXPECT_TRUE(WaitFor([&] { return events.endPlay > 0; }));
        // The queue ran dry when the device took its last bytes; they are played a buffer later.
        EXPECT_TRUE(WaitFor([&] { return player->PlayedCounter() >= player->QueuedCounter(); }));
        played = player->PlayedCounter();
        queued = player->QueuedCounter();
        player->Stop();
        return SplitRecording(ReadFileBytes(diskFile), deviceChannels);
    }

    QTemporaryDir dir;
    std::string diskFile = dir.filePath("played.raw").toStdString();
    ScopedEnv driver{"SDL_AUDIODRIVER", "disk"};
    ScopedEnv file{"SDL_DISKAUDIOFILE", diskFile};
    RecordingHandler events;
    std::unique_ptr<SdlAudioPlayer> player;
    SdlAudioPlayer::DeviceFormat opened;
    int64_t played = 0;
    int64_t queued = 0;
};

struct FormatCase {
    int rate;
    int channels;
    std::vector<size_t> blockFrames;  // block sizes in frames, repeated until the sound is used
    friend void PrintTo(const FormatCase& c, std::ostream* out) {
        *out << c.rate << " Hz, " << c.channels << " channels";
    }
};

class ExactBytesTest : public DiskOutputTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ExactBytesTest, DevicePlaysTheQueuedBytesInOrderWithoutGapsAtTheInputsOwnRate) {
    const FormatCase& format = GetParam();
    const AudioBlock sound = PatternSound(static_cast<size_t>(format.rate) * 3 / 10, format.channels, 7);
    const auto blocks = SplitIntoBlocks(sound, format.channels, format.blockFrames);

    const DiskRecording recording = PlayToEnd(format.rate, format.channels, blocks, format.channels);

    EXPECT_EQ(opened.sampleRate, format.rate);
    EXPECT_EQ(opened.channels, format.channels);
    EXPECT_EQ(opened.sampleFormat, AUDIO_S16SYS);
    EXPECT_FALSE(opened.mixedToStereo);
    EXPECT_EQ(recording.sound, sound);
    EXPECT_EQ(played, static_cast<int64_t>(sound.size()));
    EXPECT_EQ(queued, static_cast<int64_t>(sound.size()));
    EXPECT_EQ(events.endArrayPlay, static_cast<int>(blocks.size()));
    EXPECT_EQ(events.endPlay, 1);
    EXPECT_EQ(events.offUiThread, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, ExactBytesTest,
                         ::testing::Values(FormatCase{48000, 2, {1152}},
                                           // odd sizes: single frames and blocks that end
                                           // inside the device's buffer
                                           FormatCase{8000, 1, {1, 333, 160, 7}},
                                           FormatCase{48000, 6, {1024, 1536}}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "Hz_" +
                                    std::to_string(info.param.channels) + "ch";
                         });

TEST_F(DiskOutputTest, BlocksQueuedFromTheBlockFinishedEventFollowWithoutGaps) {
    const AudioBlock sound = PatternSound(48000, 2, 11);  // 1 s, in 100 ms blocks
    const auto blocks = SplitIntoBlocks(sound, 2, {4800});
    size_t next = 4;
    events.onEndArrayPlay = [&] {
        if (next < blocks.size()) player->QueueBlock(blocks[next++]);
    };
    const DiskRecording recording =
        PlayToEnd(48000, 2, std::vector<AudioBlock>(blocks.begin(), blocks.begin() + 4), 2);

    EXPECT_EQ(next, blocks.size());
    EXPECT_EQ(recording.sound, sound);
    EXPECT_EQ(events.endArrayPlay, static_cast<int>(blocks.size()));
    EXPECT_EQ(events.endPlay, 1);
}

TEST_F(DiskOutputTest, BeginningWithAnEmptyQueueWaitsForSoundInsteadOfEnding) {
    // The window begins playing first and queues its prefetched blocks right after.
    player->SetPlaybackFormat(48000, 2);
    player->BeginPlaying();
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(diskFile).size() >= 3 * 8192; }));
    ProcessEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(events.endPlay, 0);
    EXPECT_EQ(events.endArrayPlay, 0);

    const AudioBlock sound = PatternSound(9600, 2, 3);
    const DiskRecording recording = PlayToEnd(48000, 2, SplitIntoBlocks(sound, 2, {2400}), 2);
    EXPECT_GT(recording.leadingBytes, 0u);
    EXPECT_EQ(recording.sound, sound);
    EXPECT_EQ(events.endPlay, 1);
}

TEST_F(DiskOutputTest, VolumeLowWordIsLeftHighWordIsRight) {
    player->SetFirstSetupValue(static_cast<int32_t>(0xFFFF0000u));
    const AudioBlock sound = PatternSound(4800, 2, 5);
    const DiskRecording recording = PlayToEnd(48000, 2, {sound}, 2);

    // Every frame keeps its right sample, so the recording is found from the first frame on.
    ASSERT_EQ(recording.sound.size(), sound.size());
    for (size_t i = 0; i < sound.size() / 2; ++i) {
        if (i % 2 == 0) ASSERT_EQ(SampleAt(recording.sound, i), 0) << "left sample " << i / 2;
        else ASSERT_EQ(SampleAt(recording.sound, i), SampleAt(sound, i)) << "right sample " << i / 2;
    }
}

TEST_F(DiskOutputTest, SingleWordVolumeScalesEveryChannel) {
    player->SetFirstSetupValue(0x8000);
    const AudioBlock sound = PatternSound(4000, 3, 9);
    const DiskRecording recording = PlayToEnd(8000, 3, {sound}, 3);

    ASSERT_EQ(recording.sound.size(), sound.size());
    for (size_t i = 0; i < sound.size() / 2; ++i)
        ASSERT_NEAR(SampleAt(recording.sound, i), SampleAt(sound, i) / 2.0, 1.0) << "sample " << i;
}

TEST_F(DiskOutputTest, MoreChannelsThanTheDeviceTakesAreMixedToStereoAtTheSameRate) {
    constexpr int kChannels = 10;
    const AudioBlock mono = PatternSound(4410, 1, 13);
    AudioBlock sound;
    for (size_t f = 0; f < mono.size() / 2; ++f)
        for (int c = 0; c < kChannels; ++c) sound.insert(sound.end(), mono.begin() + 2 * f, mono.begin() + 2 * f + 2);
    const auto blocks = SplitIntoBlocks(sound, kChannels, {1000});

    const DiskRecording recording = PlayToEnd(44100, kChannels, blocks, 2);

    EXPECT_EQ(opened.sampleRate, 44100);
    EXPECT_EQ(opened.channels, 2);
    EXPECT_TRUE(opened.mixedToStereo);
    // The same sample on every channel mixes to that sample on both sides, frame for frame.
    ASSERT_EQ(recording.sound.size(), mono.size() * 2);
    for (size_t f = 0; f < mono.size() / 2; ++f) {
        ASSERT_EQ(SampleAt(recording.sound, 2 * f), SampleAt(mono, f)) << "frame " << f;
        ASSERT_EQ(SampleAt(recording.sound, 2 * f + 1), SampleAt(mono, f)) << "frame " << f;
    }
    EXPECT_EQ(played, static_cast<int64_t>(sound.size()));
    EXPECT_EQ(events.endArrayPlay, static_cast<int>(blocks.size()));
}

}  // namespace
}  // namespace trimora
