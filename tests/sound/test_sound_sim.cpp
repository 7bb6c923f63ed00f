#include "sound_sim.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

using testing::ElementsAre;

namespace {

class SimSoundTest : public testing::Test {
protected:
    SimSoundTest() : sim(clock) {
        ::mkdir(dir.file("sub").c_str(), 0755);
        for (const char* name : {"p1.mp3", "p2.mp3", "sub/p1.mp3"})
            testsupport::WriteFile(dir.file(name), "x");
    }
    testsupport::TempDir dir;
    CFakeTickClock clock;
    CSimSoundOutput sim;
};

TEST_F(SimSoundTest, OnlyExistingRegularFilesNotMarkedFailingOpen) {
    EXPECT_EQ(sim.Open(dir.file("none.mp3")), nullptr);
    EXPECT_EQ(sim.Open(dir.file("sub")), nullptr);
    EXPECT_NE(sim.Open(dir.file("p1.mp3")), nullptr);

    // A full path marks that file only; a bare name marks it in any folder.
    sim.FailOpen(dir.file("sub/p1.mp3"));
    EXPECT_NE(sim.Open(dir.file("p1.mp3")), nullptr);
    EXPECT_EQ(sim.Open(dir.file("sub/p1.mp3")), nullptr);
    sim.FailOpen("p2.mp3");
    EXPECT_EQ(sim.Open(dir.file("p2.mp3")), nullptr);
    EXPECT_EQ(sim.OpenCount(), 0);
}

TEST_F(SimSoundTest, LengthsByPathBeatNamesAndNamesBeatTheDefault) {
    sim.SetLength("p1.mp3", 1500);
    sim.SetLength(dir.file("sub/p1.mp3"), 700);
    EXPECT_EQ(sim.Open(dir.file("p1.mp3"))->LengthMs(), 1500u);
    EXPECT_EQ(sim.Open(dir.file("sub/p1.mp3"))->LengthMs(), 700u);
    EXPECT_EQ(sim.Open(dir.file("p2.mp3"))->LengthMs(), 2000u);
    sim.SetDefaultLength(50);
    EXPECT_EQ(sim.Open(dir.file("p2.mp3"))->LengthMs(), 50u);
}

TEST_F(SimSoundTest, PositionFollowsTheClockOnlyWhilePlayingAndStopsAtTheLength) {
    sim.SetLength("p1.mp3", 1000);
    auto sound = sim.Open(dir.file("p1.mp3"));
    clock.Advance(300);
    EXPECT_EQ(sound->PositionMs(), 0u);
    EXPECT_TRUE(sound->Play());
    clock.Advance(400);
    EXPECT_EQ(sound->PositionMs(), 400u);
    sound->Stop();
    clock.Advance(400);
    EXPECT_EQ(sound->PositionMs(), 400u);
    sound->Play();
    clock.Advance(100000);
    EXPECT_EQ(sound->PositionMs(), 1000u);
}

TEST_F(SimSoundTest, PositionIsRightAcrossTheTickCountWrap) {
    clock.Set(0xFFFFFF00u);
    auto sound = sim.Open(dir.file("p1.mp3"));
    sound->Play();
    clock.Advance(0x200);  // wraps past zero
    EXPECT_EQ(sound->PositionMs(), 0x200u);
}

TEST_F(SimSoundTest, EventsRecordWhatWasDoneAndWhere) {
    {
        auto sound = sim.Open(dir.file("p1.mp3"));
        sound->Play();
        clock.Advance(250);
        sound->Stop();
        sound->SeekToStart();
    }
    sim.Open(dir.file("none.mp3"));
    EXPECT_THAT(sim.Log(),
                ElementsAre("open p1.mp3", "play p1.mp3", "stop p1.mp3", "seek p1.mp3", "close p1.mp3", "fail none.mp3"));
    auto events = sim.Events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].path, dir.file("p1.mp3"));
    EXPECT_EQ(events[2].positionMs, 250u);
    EXPECT_EQ(events[4].positionMs, 0u);
}

}  // namespace
