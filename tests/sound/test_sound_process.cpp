// Choices made once per process: what happens without any audio driver, and which output
// DefaultSoundOutput() is. Nothing here may touch SDL audio before the first test.
#include "mci_player.h"
#include "sound_sdl.h"
#include "sound_sim.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(SoundProcessTest, WithNoUsableAudioDriverOpenFailsQuicklyAndCleanly) {
    testsupport::ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    testsupport::TempDir dir;
    std::string path = dir.file("tone.wav");
    ASSERT_EQ(std::system(("sox -V1 -n -r 44100 -c 2 -b 16 '" + path + "' synth 0.2 sine 440").c_str()), 0);

    auto t0 = std::chrono::steady_clock::now();
    CKtMCIPlayer player(&SdlSoundOutput());
    EXPECT_EQ(player.Open(path), 0);
    EXPECT_EQ(player.Open(path), 0);
    EXPECT_EQ(player.m_nDeviceID, -1);
    EXPECT_FALSE(SdlSoundOutput().HasOutput());  // no device, rather than a bad file
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST(SoundProcessTest, SimChoiceRunsOnTheSystemClock) {
    testsupport::ScopedEnv choice("VORUR_SOUND", "sim");
    ASSERT_NE(dynamic_cast<CSimSoundOutput*>(&DefaultSoundOutput()), nullptr);

    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("a.mp3"), "x");
    CKtMCIPlayer player;
    ASSERT_EQ(player.Open(dir.file("a.mp3")), 1);
    EXPECT_EQ(player.m_dwLength, 2000u);
    player.Play(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GE(player.GetPosition(), 50u);
    EXPECT_LT(player.GetPosition(), 2000u);
}

}  // namespace
