#include "mci_player.h"
#include "sound_sim.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

class MciPlayerTest : public testing::Test {
protected:
    MciPlayerTest() : sim(clock) {
        testsupport::WriteFile(Path("a.mp3"), "x");
        testsupport::WriteFile(Path("b.wav"), "x");
        sim.SetLength("a.mp3", 3000);
        sim.SetLength("b.wav", 1200);
    }
    std::string Path(const std::string& name) const { return dir.file(name); }

    testsupport::TempDir dir;
    CFakeTickClock clock;
    CSimSoundOutput sim;
};

TEST_F(MciPlayerTest, WithNoSoundEveryOperationIsHarmlessAndSendsNothing) {
    CKtMCIPlayer player(&sim);
    EXPECT_EQ(player.m_nDeviceID, -1);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.Close(), 0u);
    EXPECT_EQ(player.Play(0), 0);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.Stop(), 1);
    EXPECT_EQ(player.SeekToStart(), 0);
    EXPECT_EQ(player.GetPosition(), 0u);
    EXPECT_THAT(sim.Log(), IsEmpty());
}

TEST_F(MciPlayerTest, OpenReadsLengthAndHandsOutANewDeviceIdEachTime) {
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("a.mp3")), 1);
    int32_t first = player.m_nDeviceID;
    EXPECT_GT(first, 0);
    EXPECT_EQ(player.m_dwLength, 3000u);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.GetPosition(), 0u);

    ASSERT_EQ(player.Open(Path("b.wav")), 1);
    EXPECT_EQ(player.m_nDeviceID, first + 1);
    EXPECT_EQ(player.m_dwLength, 1200u);
    EXPECT_EQ(sim.OpenCount(), 1);
    EXPECT_THAT(sim.Log(), ElementsAre("open a.mp3", "close a.mp3", "open b.wav"));
}

TEST_F(MciPlayerTest, OpenWhilePlayingStopsAndClosesTheOldSoundFirst) {
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("a.mp3")), 1);
    player.Play(0);
    clock.Advance(500);
    ASSERT_EQ(player.Open(Path("b.wav")), 1);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.GetPosition(), 0u);
    EXPECT_THAT(sim.Log(), ElementsAre("open a.mp3", "play a.mp3", "stop a.mp3", "close a.mp3", "open b.wav"));
}

TEST_F(MciPlayerTest, FailedOpenLeavesThePlayerClosedEvenIfASoundWasOpen) {
    sim.FailOpen("b.wav");
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("a.mp3")), 1);
    player.Play(0);

    EXPECT_EQ(player.Open(Path("b.wav")), 0);
    EXPECT_EQ(player.m_nDeviceID, -1);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.GetPosition(), 0u);
    EXPECT_EQ(sim.OpenCount(), 0);

    EXPECT_EQ(player.Open(Path("missing.ogg")), 0);
    EXPECT_EQ(player.m_nDeviceID, -1);
    EXPECT_THAT(sim.Log(),
                ElementsAre("open a.mp3", "play a.mp3", "stop a.mp3", "close a.mp3", "fail b.wav", "fail missing.ogg"));
}

TEST_F(MciPlayerTest, PlayRunsInTheBackgroundAndStopKeepsThePosition) {
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("a.mp3")), 1);
    EXPECT_EQ(player.Play(0), 1);
    EXPECT_EQ(player.m_bPlaying, 1);
    clock.Advance(700);
    EXPECT_EQ(player.GetPosition(), 700u);

    EXPECT_EQ(player.Stop(), 1);
    EXPECT_EQ(player.m_bPlaying, 0);
    clock.Advance(400);
    EXPECT_EQ(player.GetPosition(), 700u);

    // A later Play continues from there.
    player.Play(0);
    clock.Advance(100);
    EXPECT_EQ(player.GetPosition(), 800u);
}

TEST_F(MciPlayerTest, StopWhenNotPlayingSendsNothing) {
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("a.mp3")), 1);
    player.Play(0);
    player.Stop();
    sim.ClearLog();
    EXPECT_EQ(player.Stop(), 1);
    EXPECT_EQ(player.Stop(), 1);
    EXPECT_THAT(sim.Log(), IsEmpty());
}

TEST_F(MciPlayerTest, PlayWhilePlayingGoesOnFromThePositionReached) {
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("a.mp3")), 1);
    player.Play(0);
    clock.Advance(900);
    sim.ClearLog();
    EXPECT_EQ(player.Play(0), 1);
    EXPECT_EQ(player.m_bPlaying, 1);
    EXPECT_THAT(sim.Log(), ElementsAre("stop a.mp3", "play a.mp3"));
    EXPECT_EQ(player.GetPosition(), 900u);
    clock.Advance(100);
    EXPECT_EQ(player.GetPosition(), 1000u);
}

TEST_F(MciPlayerTest, NaturalEndReadsExactlyTheLengthAndLeavesPlayingSet) {
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("b.wav")), 1);
    player.Play(0);
    clock.Advance(1199);
    EXPECT_NE(player.GetPosition(), player.m_dwLength);
    clock.Advance(5000);
    EXPECT_EQ(player.GetPosition(), player.m_dwLength);
    EXPECT_EQ(player.m_bPlaying, 1);

    // What the dialog does when it notices the end: stop and rewind.
    player.Stop();
    EXPECT_EQ(player.SeekToStart(), 1);
    EXPECT_EQ(player.m_bPlaying, 0);
    EXPECT_EQ(player.GetPosition(), 0u);
}

TEST_F(MciPlayerTest, SeekToStartRewindsStoppedAndPlayingSounds) {
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("a.mp3")), 1);
    player.Play(0);
    clock.Advance(1500);
    EXPECT_EQ(player.SeekToStart(), 1);
    EXPECT_EQ(player.m_bPlaying, 1);
    clock.Advance(200);
    EXPECT_EQ(player.GetPosition(), 200u);

    player.Stop();
    player.SeekToStart();
    EXPECT_EQ(player.GetPosition(), 0u);
    clock.Advance(300);
    EXPECT_EQ(player.GetPosition(), 0u);
}

TEST_F(MciPlayerTest, RefusedPlayStillCountsAsPlayingAndNeverEnds) {
    sim.FailPlay("a.mp3");
    CKtMCIPlayer player(&sim);
    ASSERT_EQ(player.Open(Path("a.mp3")), 1);
    EXPECT_EQ(player.Play(0), 1);
    EXPECT_EQ(player.m_bPlaying, 1);
    clock.Advance(10000);
    EXPECT_EQ(player.GetPosition(), 0u);
    EXPECT_NE(player.GetPosition(), player.m_dwLength);
}

TEST_F(MciPlayerTest, CloseAndDestructorStopAndReleaseTheSound) {
    {
        CKtMCIPlayer player(&sim);
        ASSERT_EQ(player.Open(Path("a.mp3")), 1);
        player.Play(0);
        EXPECT_EQ(player.Close(), 0u);
        EXPECT_EQ(player.m_nDeviceID, -1);
        EXPECT_EQ(player.m_bPlaying, 0);
        EXPECT_EQ(player.GetPosition(), 0u);
        EXPECT_EQ(player.Play(0), 0);

        ASSERT_EQ(player.Open(Path("b.wav")), 1);
        player.Play(0);
    }
    EXPECT_EQ(sim.OpenCount(), 0);
    EXPECT_THAT(sim.Log(), ElementsAre("open a.mp3", "play a.mp3", "stop a.mp3", "close a.mp3", "open b.wav",
                                       "play b.wav", "stop b.wav", "close b.wav"));
}

}  // namespace
