// Choices made once per process: which output DefaultSoundOutput() is, and what happens
// when no audio device can be opened. Nothing here may touch SDL audio before the
// no-device test has set its driver.
#include "mci_player.h"
#include "sound_sdl.h"
#include "sound_sim.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

TEST(SoundProcessTest, WithNoUsableAudioDriverOpenFailsQuicklyAndCleanly) {
    testsupport::ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    testsupport::TempDir dir;
    std::string path = dir.file("tone.wav");
    ASSERT_EQ(std::system(("sox -V1 -n -r 44100 -c 2 -b 16 '" + path + "' synth 0.2 sine 440").c_str()), 0);

    auto t0 = Clock::now();
    EXPECT_EQ(SdlSoundOutput().Open(path), nullptr);
    CKtMCIPlayer player(&SdlSoundOutput());
    EXPECT_EQ(player.Open(path), 0);
    EXPECT_EQ(player.m_nDeviceID, -1);
    EXPECT_EQ(player.Play(0), 0);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
}

TEST(SoundProcessTest, SimChoiceRunsOnTheSystemClock) {
    testsupport::ScopedEnv choice("VORUR_SOUND", "sim");
    ASSERT_NE(dynamic_cast<CSimSoundOutput*>(&DefaultSoundOutput()), nullptr);

    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("a.mp3"), "x");
    CKtMCIPlayer player;  // on the default output
    ASSERT_EQ(player.Open(dir.file("a.mp3")), 1);
    EXPECT_EQ(player.m_dwLength, 2000u);
    player.Play(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GE(player.GetPosition(), 50u);
    EXPECT_LT(player.GetPosition(), 2000u);
}

}  // namespace
