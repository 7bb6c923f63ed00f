// What the SDL output hands to the device, written to a file by SDL's disk driver.
#include "sound_sdl.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The non-silent frames of 16-bit stereo, in order.
std::string SoundingFrames(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i + 4 <= raw.size(); i += 4)
        if (std::memcmp(raw.data() + i, "\0\0\0\0", 4) != 0)
            out.append(raw, i, 4);
    return out;
}

TEST(SoundDiskTest, DeviceReceivesTheFileSamplesOnceEachAcrossStopAndResume) {
    testsupport::TempDir dir;
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", dir.file("device.raw").c_str(), 1);

    // Repeatable noise lifted off zero: no frame is silent, and a gap or repeat shows.
    const std::string wav = dir.file("noise.wav"), ref = dir.file("noise.raw");
    ASSERT_EQ(std::system(("sox -V1 -R -n -r 44100 -c 2 -b 16 " + wav + " synth 0.3 whitenoise vol 0.4 dcshift 0.5")
                              .c_str()), 0);
    ASSERT_EQ(std::system(("sox -V1 " + wav + " -t raw -e signed -b 16 -L " + ref).c_str()), 0);
    const std::string expected = testsupport::ReadFile(ref);
    ASSERT_EQ(expected.size(), 13230u * 4);
    ASSERT_TRUE(SoundingFrames(expected) == expected);

    auto sound = SdlSoundOutput().Open(wav);
    ASSERT_NE(sound, nullptr);
    sound->Play();
    std::this_thread::sleep_for(120ms);
    sound->Stop();
    std::this_thread::sleep_for(100ms);
    sound->Play();
    for (auto t0 = std::chrono::steady_clock::now();
         sound->PositionMs() != sound->LengthMs() && std::chrono::steady_clock::now() - t0 < 3s;)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(sound->PositionMs(), sound->LengthMs());
    // The driver writes through a stdio buffer; more buffers of silence push the end out.
    std::this_thread::sleep_for(300ms);

    std::string heard = SoundingFrames(testsupport::ReadFile(dir.file("device.raw")));
    ASSERT_EQ(heard.size(), expected.size());
    EXPECT_TRUE(heard == expected);
}

}  // namespace
