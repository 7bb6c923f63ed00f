// The page sound player's rules, on the simulated output and a fake clock.
#include "mci_player.h"
#include "sound_sim.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

class MciPlayerTest : public testing::Test {
protected:
    MciPlayerTest() : sim(clock) {
        for (const char* name : {"a.mp3", "b.wav", "c.ogg"})
            testsupport::WriteFile(dir.file(name), "x");
        sim.SetLength("a.mp3", 3000);
        sim.SetLength(dir.file("b.wav"), 1200);
    }
    testsupport::TempDir dir;
    CFakeTickClock clock;
    CSimSoundOutput sim;
    CKtMCIPlayer player{&sim};
};

TEST_F(MciPlayerTest, WithNoSoundOpenEveryOperationIsHarmlessAndSendsNothing) {
    EXPECT_EQ(player.m_nDeviceID, -1);
    EXPECT_EQ(player.Close(), 0u);
    EXPECT_EQ(player.Play(0), 0);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.Stop(), 1);
    EXPECT_EQ(player.SeekToStart(), 0);
    EXPECT_EQ(player.GetPosition(), 0u);
    EXPECT_THAT(sim.Log(), IsEmpty());
}

TEST_F(MciPlayerTest, OpenReleasesThePreviousSoundAndAFailedOpenLeavesThePlayerClosed) {
    ASSERT_EQ(player.Open(dir.file("a.mp3")), 1);
    const int32_t first = player.m_nDeviceID;
    EXPECT_GT(first, 0);
    EXPECT_EQ(player.m_dwLength, 3000u);
    player.Play(0);
    clock.Advance(500);

    ASSERT_EQ(player.Open(dir.file("b.wav")), 1);
    EXPECT_EQ(player.m_nDeviceID, first + 1);
    EXPECT_EQ(player.m_dwLength, 1200u);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.GetPosition(), 0u);
    player.Play(0);

    sim.FailOpen("c.ogg");
    EXPECT_EQ(player.Open(dir.file("c.ogg")), 0);
    EXPECT_EQ(player.m_nDeviceID, -1);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.Open(dir.file("missing.mp3")), 0);
    EXPECT_EQ(player.Open(dir.path()), 0);  // a folder is no sound
    EXPECT_EQ(sim.OpenCount(), 0);
    EXPECT_THAT(sim.Log(), ElementsAre("open a.mp3", "play a.mp3", "stop a.mp3", "close a.mp3", "open b.wav",
                                       "play b.wav", "stop b.wav", "close b.wav", "fail c.ogg", "fail missing.mp3",
                                       "fail " + dir.path().substr(dir.path().rfind('/') + 1)));
}

TEST_F(MciPlayerTest, StopKeepsThePositionPlayContinuesAndTheEndReadsExactlyTheLength) {
    ASSERT_EQ(player.Open(dir.file("b.wav")), 1);
    EXPECT_EQ(player.Play(0), 1);
    EXPECT_EQ(player.m_bPlaying, 1);
    clock.Advance(300);
    EXPECT_EQ(player.Stop(), 1);
    EXPECT_EQ(player.m_bPlaying, 0);
    clock.Advance(400);
    EXPECT_EQ(player.GetPosition(), 300u);

    sim.ClearLog();
    player.Stop();  // not playing: nothing is sent
    EXPECT_THAT(sim.Log(), IsEmpty());

    player.Play(0);
    clock.Advance(200);
    player.Play(0);  // while playing: stops and goes on from where it was
    EXPECT_THAT(sim.Log(), ElementsAre("play b.wav", "stop b.wav", "play b.wav"));
    clock.Advance(100);
    EXPECT_EQ(player.GetPosition(), 600u);

    EXPECT_EQ(player.SeekToStart(), 1);  // while playing: goes on from the start
    clock.Advance(150);
    EXPECT_EQ(player.GetPosition(), 150u);

    clock.Advance(1049);
    EXPECT_NE(player.GetPosition(), player.m_dwLength);
    clock.Advance(5000);
    EXPECT_EQ(player.GetPosition(), player.m_dwLength);
    EXPECT_EQ(player.m_bPlaying, 1);  // a natural end leaves the flag set

    player.Stop();
    player.SeekToStart();
    EXPECT_EQ(player.GetPosition(), 0u);
    clock.Advance(100);
    EXPECT_EQ(player.GetPosition(), 0u);
}

TEST_F(MciPlayerTest, RefusedPlayStillCountsAsPlayingAndNeverEnds) {
    sim.FailPlay("a.mp3");
    ASSERT_EQ(player.Open(dir.file("a.mp3")), 1);
    EXPECT_EQ(player.Play(0), 1);
    EXPECT_EQ(player.m_bPlaying, 1);
    clock.Advance(10000);
    EXPECT_EQ(player.GetPosition(), 0u);
}

TEST_F(MciPlayerTest, DestructorStopsAndClosesAndPositionsSurviveTheTickCountWrap) {
    clock.Set(0xFFFFFF00u);
    {
        CKtMCIPlayer other(&sim);
        ASSERT_EQ(other.Open(dir.file("a.mp3")), 1);
        other.Play(0);
        clock.Advance(0x200);
        EXPECT_EQ(other.GetPosition(), 0x200u);
    }
    EXPECT_EQ(sim.OpenCount(), 0);
    EXPECT_THAT(sim.Log(), ElementsAre("open a.mp3", "play a.mp3", "stop a.mp3", "close a.mp3"));
    EXPECT_EQ(sim.Events()[2].positionMs, 0x200u);
}

}  // namespace
