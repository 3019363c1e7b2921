// The queue counters and the two events, on SDL's dummy driver (a device that consumes sound in
// real time and plays it nowhere).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "AudioTestHelpers.h"
#include "engine/audio/SdlAudioPlayer.h"

namespace trimora {
namespace {

using namespace audiotest;

class CountersAndEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        player = std::make_unique<SdlAudioPlayer>();
        player->SetEventHandler(&events);
        ASSERT_GE(player->NumberOfDevices(), 1);
        player->SelectDevice(0);
        player->SetPlaybackFormat(48000, 2);
        player->FollowUp(0);
    }
    void TearDown() override { player.reset(); }

    int64_t QueueBlocks(size_t count, size_t frames) {
        int64_t total = 0;
        for (size_t i = 0; i < count; ++i) {
            const AudioBlock block = PatternSound(frames, 2, static_cast<uint32_t>(i));
            player->QueueBlock(block);
            total += static_cast<int64_t>(block.size());
        }
        return total;
    }

    // Waits for the device to take everything without letting any queued call run.
    bool WaitUntilAllPlayedWithoutEvents() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (player->PlayedCounter() < player->QueuedCounter()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    ScopedEnv driver{"SDL_AUDIODRIVER", "dummy"};
    RecordingHandler events;
    std::unique_ptr<SdlAudioPlayer> player;
};

TEST_F(CountersAndEventsTest, PlayedCounterFollowsTheDeviceAndEachBlockIsReportedOnce) {
    const int64_t total = QueueBlocks(3, 2400);
    EXPECT_EQ(player->QueuedCounter(), total);

    // Queued before playing begins: kept, not consumed.
    ProcessEventsFor(std::chrono::milliseconds(100));
    EXPECT_EQ(player->PlayedCounter(), 0);
    EXPECT_EQ(events.endArrayPlay, 0);

    player->BeginPlaying();
    int64_t lastPlayed = 0;
    bool counterWentBack = false;
    bool playedAheadOfQueued = false;
    ASSERT_TRUE(WaitFor([&] {
        const int64_t played = player->PlayedCounter();
        counterWentBack |= played < lastPlayed;
        playedAheadOfQueued |= played > player->QueuedCounter();
        lastPlayed = played;
        return events.endPlay > 0;
    }));
    ProcessEventsFor(std::chrono::milliseconds(100));

    EXPECT_FALSE(counterWentBack);
    EXPECT_FALSE(playedAheadOfQueued);
    EXPECT_EQ(player->PlayedCounter(), total);
    EXPECT_EQ(player->QueuedCounter(), total);
    EXPECT_EQ(events.endArrayPlay, 3);
    EXPECT_EQ(events.endPlay, 1);
    EXPECT_EQ(events.offUiThread, 0);
}

// The device takes a buffer at a time and plays it while it waits to ask for the next: the
// played counter follows the sound as it is heard instead of running a buffer ahead of it, so it
// never counts more than the time since playing began holds (the slack covers the dummy
// driver's clock, which may run a little fast). Waiting longer only loosens the bound.
TEST_F(CountersAndEventsTest, PlayedCounterNeverRunsAheadOfTheTimePlayed) {
    player->SetSecondSetupValue(100);  // buffers of 4096 frames, 85 ms: a jump would show
    QueueBlocks(10, 4800);             // 1 s
    const auto begin = std::chrono::steady_clock::now();
    player->BeginPlaying();
    const double bytesPerMs = 48000 * 2 * 2 / 1000.0;
    double mostAhead = -1e9;
    int64_t last = 0;
    bool wentBack = false;
    while (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(400)) {
        const int64_t played = player->PlayedCounter();
        const double elapsedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
        mostAhead = std::max(mostAhead, played / bytesPerMs - elapsedMs);
        wentBack |= played < last;
        last = played;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GT(last, 0);
    EXPECT_FALSE(wentBack);
    EXPECT_LT(mostAhead, 20.0) << "ms of sound counted before it could have been played";
}

TEST_F(CountersAndEventsTest, StopDropsTheQueueAndResetsBothCounters) {
    QueueBlocks(20, 4800);  // 2 s
    player->BeginPlaying();
    ASSERT_TRUE(WaitFor([&] { return player->PlayedCounter() > 0; }));
    player->Stop();
    EXPECT_EQ(player->QueuedCounter(), 0);
    EXPECT_EQ(player->PlayedCounter(), 0);

    ProcessEventsFor(std::chrono::milliseconds(200));
    EXPECT_EQ(player->PlayedCounter(), 0);

    // The next run counts from zero and plays only its own sound.
    const int64_t total = QueueBlocks(2, 480);
    player->BeginPlaying();
    ASSERT_TRUE(WaitFor([&] { return events.endPlay > 0; }));
    ASSERT_TRUE(WaitFor([&] { return player->PlayedCounter() >= total; }));
    EXPECT_EQ(player->PlayedCounter(), total);
    EXPECT_EQ(player->QueuedCounter(), total);
}

TEST_F(CountersAndEventsTest, EventsRaisedBeforeStopAreNeverDeliveredAfterIt) {
    QueueBlocks(5, 240);
    player->BeginPlaying();
    ASSERT_TRUE(WaitUntilAllPlayedWithoutEvents());
    player->Stop();
    ProcessEventsFor(std::chrono::milliseconds(200));
    EXPECT_EQ(events.endArrayPlay, 0);
    EXPECT_EQ(events.endPlay, 0);

    QueueBlocks(3, 240);
    player->BeginPlaying();
    ASSERT_TRUE(WaitFor([&] { return events.endPlay > 0; }));
    ProcessEventsFor(std::chrono::milliseconds(100));
    EXPECT_EQ(events.endArrayPlay, 3);
    EXPECT_EQ(events.endPlay, 1);
}

TEST_F(CountersAndEventsTest, StopFromAnEventHandlerCancelsTheEventsStillPending) {
    // Ten tiny blocks end within one device buffer; the handler stops at the first report.
    QueueBlocks(10, 4);
    events.onEndArrayPlay = [&] { player->Stop(); };
    player->BeginPlaying();
    ASSERT_TRUE(WaitFor([&] { return events.endArrayPlay > 0; }));
    ProcessEventsFor(std::chrono::milliseconds(200));
    EXPECT_EQ(events.endArrayPlay, 1);
    EXPECT_EQ(events.endPlay, 0);
}

TEST_F(CountersAndEventsTest, SoundQueuedFromTheLastBlocksEventMeansPlayingHasNotEnded) {
    // The last block's end and the dry queue are seen together; the window tops up the queue
    // on the first event, so the second must not end playing.
    const int64_t first = QueueBlocks(1, 2400);
    const AudioBlock more = PatternSound(2400, 2, 99);
    events.onEndArrayPlay = [&] {
        if (events.endArrayPlay == 1) player->QueueBlock(more);
    };
    player->BeginPlaying();
    ASSERT_TRUE(WaitFor([&] { return events.endPlay > 0; }));
    ProcessEventsFor(std::chrono::milliseconds(100));
    EXPECT_EQ(events.endArrayPlay, 2);
    EXPECT_EQ(events.endPlay, 1);
    EXPECT_EQ(player->PlayedCounter(), first + static_cast<int64_t>(more.size()));
}

}  // namespace
}  // namespace trimora
