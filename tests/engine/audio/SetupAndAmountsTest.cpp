// Setting the player up with and without a sound device, the checks on what is queued, and the
// arithmetic between milliseconds and bytes.
#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "AudioTestHelpers.h"
#include "engine/EngineError.h"
#include "engine/audio/SdlAudioPlayer.h"

namespace trimora {
namespace {

using namespace audiotest;

TEST(AudioPlayerWithoutDevice, OpeningAnInputStillSucceeds) {
    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    SdlAudioPlayer player;
    EXPECT_EQ(player.NumberOfDevices(), 0);
    EXPECT_NO_THROW({
        player.SetPlaybackFormat(48000, 2);
        player.FollowUp(0);
        player.SetPlaybackFormat(0, 0);
        player.FollowUp(0);
        player.SetPlaybackFormat(8000, 1);
        player.FollowUp(0);
        player.Stop();
    });
    EXPECT_EQ(player.AmountForDuration(1000), 16000);
    EXPECT_THROW(player.SelectDevice(0), EngineError);
    EXPECT_THROW(player.BeginPlaying(), EngineError);
}

class AudioPlayerSetupTest : public ::testing::Test {
protected:
    ScopedEnv driver{"SDL_AUDIODRIVER", "dummy"};
    RecordingHandler events;
    SdlAudioPlayer player;
};

TEST_F(AudioPlayerSetupTest, SetUpValuesAreCheckedAndFormatCallsNeverThrow) {
    const int16_t devices = player.NumberOfDevices();
    ASSERT_GE(devices, 1);
    EXPECT_NO_THROW(player.SelectDevice(0));
    EXPECT_THROW(player.SelectDevice(-1), EngineError);
    EXPECT_THROW(player.SelectDevice(devices), EngineError);
    EXPECT_NO_THROW(player.SetFirstSetupValue(0xFFFF));
    EXPECT_NO_THROW(player.SetSecondSetupValue(50));
    EXPECT_THROW(player.SetSecondSetupValue(0), EngineError);
    EXPECT_NO_THROW({
        player.SetPlaybackFormat(48000, 2);
        player.FollowUp(0);
        player.SetPlaybackFormat(0, 2);
        player.FollowUp(0);
    });
}

TEST_F(AudioPlayerSetupTest, InputWithoutSoundPlaysNothingAndOpensNoDevice) {
    player.SetEventHandler(&events);
    player.SetPlaybackFormat(0, 0);
    player.FollowUp(0);
    EXPECT_EQ(player.AmountForDuration(2500), 0);
    EXPECT_EQ(player.DurationOfAmount(1000), 0);
    EXPECT_NO_THROW(player.BeginPlaying());
    EXPECT_EQ(player.OpenDeviceFormat().sampleRate, 0);
    EXPECT_THROW(player.QueueBlock(AudioBlock(4, 1)), EngineError);
    ProcessEventsFor(std::chrono::milliseconds(100));
    EXPECT_EQ(events.endArrayPlay + events.endPlay, 0);
    EXPECT_EQ(player.QueuedCounter(), 0);
}

TEST_F(AudioPlayerSetupTest, DeviceOpensInTheInputsFormatWhenPlayingBegins) {
    struct Format {
        int rate;
        int channels;
    };
    for (const Format format : {Format{8000, 1}, Format{44100, 2}, Format{48000, 6}, Format{22050, 3}}) {
        SCOPED_TRACE(std::to_string(format.rate) + " Hz, " + std::to_string(format.channels) + " channels");
        player.SetPlaybackFormat(format.rate, format.channels);
        player.FollowUp(0);
        EXPECT_EQ(player.OpenDeviceFormat().sampleRate, 0) << "the format call must not open the device";
        player.BeginPlaying();
        const auto opened = player.OpenDeviceFormat();
        EXPECT_EQ(opened.sampleRate, format.rate);
        EXPECT_EQ(opened.channels, format.channels);
        EXPECT_EQ(opened.sampleFormat, AUDIO_S16SYS);
        player.Stop();
        EXPECT_EQ(player.OpenDeviceFormat().sampleRate, 0);
    }
}

TEST_F(AudioPlayerSetupTest, OnlyWholeSampleFramesAreQueued) {
    player.SetPlaybackFormat(48000, 6);
    EXPECT_THROW(player.QueueBlock(AudioBlock(13, 1)), EngineError);
    EXPECT_THROW(player.QueueBlock(AudioBlock(2, 1)), EngineError);
    EXPECT_EQ(player.QueuedCounter(), 0);
    player.QueueBlock(AudioBlock{});
    EXPECT_EQ(player.QueuedCounter(), 0);
    player.QueueBlock(AudioBlock(24, 1));
    EXPECT_EQ(player.QueuedCounter(), 24);
}

TEST_F(AudioPlayerSetupTest, ANewFormatDropsSoundQueuedInTheOldOne) {
    player.SetPlaybackFormat(48000, 2);
    player.QueueBlock(AudioBlock(400, 1));
    player.SetPlaybackFormat(48000, 2);
    player.FollowUp(0);
    EXPECT_EQ(player.QueuedCounter(), 400);
    player.SetPlaybackFormat(44100, 2);
    EXPECT_EQ(player.QueuedCounter(), 0);
}

struct AmountCase {
    int rate;
    int channels;
    int32_t milliseconds;
    int32_t bytes;
    friend void PrintTo(const AmountCase& c, std::ostream* out) {
        *out << c.rate << " Hz x " << c.channels << ", " << c.milliseconds << " ms = " << c.bytes << " bytes";
    }
};

class AudioPlayerAmountTest : public ::testing::TestWithParam<AmountCase> {};

TEST_P(AudioPlayerAmountTest, AmountsAreBytesOfThePlayersFormat) {
    const AmountCase& c = GetParam();
    SdlAudioPlayer player;
    player.SetPlaybackFormat(c.rate, c.channels);
    EXPECT_EQ(player.AmountForDuration(c.milliseconds), c.bytes);
    EXPECT_EQ(player.DurationOfAmount(c.bytes), c.milliseconds);
}

INSTANTIATE_TEST_SUITE_P(Formats, AudioPlayerAmountTest,
                         ::testing::Values(AmountCase{8000, 1, 1, 16}, AmountCase{8000, 1, 2500, 40000},
                                           AmountCase{8000, 1, 9000, 144000},
                                           AmountCase{44100, 2, 10, 1764}, AmountCase{44100, 2, 2000, 352800},
                                           AmountCase{44100, 2, 9000, 1587600},
                                           AmountCase{48000, 6, 1, 576}, AmountCase{48000, 6, 2500, 1440000},
                                           AmountCase{48000, 6, 9000, 5184000}));

TEST(AudioPlayerAmounts, EveryDurationSurvivesTheRoundTripAndOverflowIsAnError) {
    SdlAudioPlayer player;
    for (const auto& [rate, channels] : {std::pair{8000, 1}, std::pair{44100, 2}, std::pair{48000, 6}}) {
        player.SetPlaybackFormat(rate, channels);
        for (int32_t ms = 0; ms <= 10000; ++ms)
            ASSERT_EQ(player.DurationOfAmount(player.AmountForDuration(ms)), ms) << rate << "x" << channels;
    }
    // 5.1 sound at 48 kHz passes 2^31 bytes after about an hour.
    EXPECT_THROW(player.AmountForDuration(4'000'000), EngineError);
    EXPECT_EQ(player.DurationOfAmount(std::numeric_limits<int32_t>::max()), 3'728'270);
}

}  // namespace
}  // namespace trimora
