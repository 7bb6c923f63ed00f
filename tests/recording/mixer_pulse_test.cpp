// The recording mixer and the capture against a real PulseAudio daemon that the
// test starts for itself.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "capture_route.h"
#include "codec_binding.h"
#include "mp3_decode.h"
#include "mp3_recorder.h"
#include "pulse_daemon.h"
#include "rud_mixer.h"

namespace {

class PulseMixer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!m_daemon.Start(why))
            GTEST_SKIP() << "PulseAudio daemon could not start here: " << why;
        ResetMixerSystemForTesting();
        ResetCaptureRouteForTesting();
        ReleaseWaveInDevices();
    }
    void TearDown() override {
        ReleaseWaveInDevices();
        ResetCaptureRouteForTesting();
    }
    // What the player must never change: the defaults and every source's state.
    std::string ServerChoices() const {
        return m_daemon.Pactl("get-default-sink") + m_daemon.DefaultSource() + m_daemon.Pactl("list short sources") +
               m_daemon.Pactl("get-source-volume vorur_mic") + m_daemon.Pactl("get-source-mute vorur_mic");
    }

    PrivatePulseDaemon m_daemon;
    testsupport::ScopedEnv m_mixer{"VORUR_MIXER", "pulse"};
};

}  // namespace

TEST_F(PulseMixer, ListsTheDefaultSourceFirstWithItsMicrophoneAndThePlaybackMix) {
    auto& devices = GetWaveInDevices();
    ASSERT_EQ(devices.size(), 2u) << "monitors are not devices";
    EXPECT_EQ(devices[0]->m_caps.szPname, "Vorur_Headset") << "the microphone the desktop has chosen";
    EXPECT_EQ(devices[1]->m_caps.szPname, "Vorur_Mic");
    EXPECT_TRUE(devices[0]->m_caps.dwFormats & WAVE_FORMAT_4S16);
    ASSERT_TRUE(devices[0]->m_mixer.Open());
    const auto& lines = devices[0]->m_mixer.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]->m_line.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_EQ(lines[0]->m_line.szName, "Vorur_Headset");
    EXPECT_EQ(lines[1]->m_line.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    EXPECT_EQ(lines[1]->m_line.szName, "Playback mix");
}

TEST_F(PulseMixer, SelectingLinesAndTheSlidersChangeOnlyThisPlayersCaptureAndTheMicrophoneVolume) {
    std::string before = ServerChoices();
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    EXPECT_EQ(mixer.m_nDeviceIndex, 0);
    EXPECT_EQ(mixer.m_dwSourceType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);

    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    CaptureRoute route = GetCaptureRoute();
    EXPECT_EQ(route.server, CaptureServer::Pulse);
    EXPECT_EQ(route.source, "vorur_headset");
    EXPECT_TRUE(route.mixPlayback);
    ASSERT_TRUE(mixer.SelectRecordMixer(0));
    EXPECT_EQ(GetCaptureRoute().source, "vorur_headset");
    EXPECT_FALSE(GetCaptureRoute().mixPlayback);

    // Slider 1007: how loud the page sound is in the playback mix, this player's own.
    ASSERT_TRUE(mixer.SetSourceVolume(50));
    EXPECT_EQ(mixer.GetSourceVolume(), 50);
    EXPECT_EQ(GetPlaybackMixVolume(), kPlaybackMixUnity / 2);
    ASSERT_TRUE(mixer.SetSourceVolume(150));
    EXPECT_EQ(mixer.GetSourceVolume(), 100);
    EXPECT_EQ(ServerChoices(), before) << "nothing of the desktop changed so far";

    // Slider 1015 and the unmute at start-up: the chosen microphone as the desktop has it.
    ASSERT_TRUE(mixer.SetMicVolume(0));
    EXPECT_EQ(mixer.GetMicVolume(), 0);
    ASSERT_TRUE(mixer.SetMicVolume(75));
    EXPECT_NE(m_daemon.Pactl("get-source-volume vorur_headset").find(" 75%"), std::string::npos);
    EXPECT_EQ(mixer.GetMicVolume(), 75);
    m_daemon.Pactl("set-source-mute vorur_headset 1");
    ASSERT_TRUE(mixer.UnmuteMic());
    EXPECT_NE(m_daemon.Pactl("get-source-mute vorur_headset").find("no"), std::string::npos);
    EXPECT_EQ(ServerChoices(), before) << "the other microphone and the defaults are untouched";
}

// A daemon that dies or hangs (SIGSTOP) under a recording: the recording ends, every
// call fails quietly, and the window, which waits for each, is held about a second
// for the first and not again for the others.
TEST_F(PulseMixer, ADaemonThatGoesAwayOrHangsMakesTheOperationsFailQuietlyAndSoon) {
    ASSERT_TRUE(LoadCodecLibrary());
    struct Case {
        const char* what;
        bool hang;
        double closeSeconds;  // the stop's settling time included
        bool failed;          // the recording counts as failed
    };
    // A server still away when the recording stops has missed the rest of it; a
    // hung one has only been slow.
    for (const Case& c : {Case{"killed", false, 1.5, true}, Case{"hung", true, 2.5, false}}) {
        SCOPED_TRACE(c.what);
        std::string why;
        if (c.hang) {
            ASSERT_TRUE(m_daemon.Start(why)) << why;
            ReleaseWaveInDevices();
            ResetMixerSystemForTesting();
        }
        CRudMixer mixer;
        ASSERT_TRUE(mixer.CheckDevice());
        testsupport::TempDir dir;
        CMP3Recorder recording;
        ASSERT_TRUE(recording.Open(nullptr, dir.file("run.mp3")));
        ASSERT_TRUE(recording.Start());
        if (c.hang)
            m_daemon.Signal(SIGSTOP);
        else
            m_daemon.Stop();
        auto t0 = std::chrono::steady_clock::now();
        recording.Close();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::duration<double>(c.closeSeconds));
        EXPECT_EQ(recording.CaptureFailed() != 0, c.failed);

        t0 = std::chrono::steady_clock::now();
        // Nothing can be read any more (-1) or the mixer cannot be reached again (0).
        mixer.SelectRecordMixer(1);
        mixer.SetSourceVolume(40);
        EXPECT_LE(mixer.GetMicVolume(), 0);
        CMP3Recorder recorder;
        ASSERT_TRUE(recorder.Open(nullptr, dir.file("rec.mp3")));
        EXPECT_FALSE(recorder.Start()) << "the capture cannot reach the server";
        recorder.Close();
        ReleaseWaveInDevices();
        EXPECT_FALSE(mixer.CheckDevice());
        EXPECT_EQ(mixer.m_strError, "CRudMixer::CheckDevice : 녹음이 가능한 사운드 카드가 없습니다.");
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
        if (c.hang) {
            // Going on, it is asked again once the time it is taken as hung is over.
            m_daemon.Signal(SIGCONT);
            std::this_thread::sleep_for(std::chrono::seconds(kHungServerSeconds));
            ReleaseWaveInDevices();
            EXPECT_TRUE(mixer.CheckDevice()) << "the server answers again";
            m_daemon.Stop();
        }
    }
}

// The daemon restarts in the middle of a recording: the recording goes on on the
// new daemon and lasts as long as the run (the time it was away would be silence,
// but this source runs ahead of the clock by more).
TEST_F(PulseMixer, ARecordingGoesOnAcrossADaemonRestartAndLastsTheRun) {
    ASSERT_TRUE(LoadCodecLibrary());
    const std::string sine = "load-module module-sine-source source_name=vorur_sine rate=44100 frequency=440";
    ASSERT_FALSE(m_daemon.Pactl(sine).empty());
    SetCaptureServer(CaptureServer::Pulse);
    SetCaptureSource("vorur_sine", false);
    testsupport::TempDir dir;
    CMP3Recorder recorder;
    ASSERT_TRUE(recorder.Open(nullptr, dir.file("rec.mp3")));
    ASSERT_TRUE(recorder.Start());
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    m_daemon.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::string why;
    ASSERT_TRUE(m_daemon.Start(why)) << why;
    ASSERT_FALSE(m_daemon.Pactl(sine).empty());
    std::this_thread::sleep_until(t0 + std::chrono::milliseconds(6000));
    double run = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    recorder.Close();
    EXPECT_FALSE(recorder.CaptureFailed());
    EXPECT_EQ(recorder.DroppedBytes(), 0u);
    // The source runs ahead of real time by up to a block.
    EXPECT_GE(double(recorder.CapturedBytes()) / 176400, run - 0.3);
    testmp3::Decoded decoded = testmp3::DecodeFile(dir.file("rec.mp3"));
    ASSERT_TRUE(decoded.ok);
    // The sine is heard again in the last second, the run's.
    auto loudest = [&](double from, double to) {
        int peak = 0;
        const size_t step = size_t(decoded.channels);
        for (size_t i = size_t(from * decoded.rate) * step; i < size_t(to * decoded.rate) * step && i < decoded.pcm.size(); ++i)
            peak = std::max(peak, std::abs(int(decoded.pcm[i])));
        return peak;
    };
    EXPECT_GT(loudest(run - 1.5, run - 0.5), 1000) << "sound after the restart";
}

// module-sine-source hands its sound over two seconds at a time; the capture used
// to keep only what fitted into the queued buffers.
TEST_F(PulseMixer, ASourceThatDeliversSecondsAtATimeLosesNothing) {
    ASSERT_TRUE(LoadCodecLibrary());
    ASSERT_FALSE(m_daemon.Pactl("load-module module-sine-source source_name=vorur_sine rate=44100 frequency=440")
                     .empty());
    SetCaptureServer(CaptureServer::Pulse);
    SetCaptureSource("vorur_sine", false);
    testsupport::TempDir dir;
    CMP3Recorder recorder;
    ASSERT_TRUE(recorder.Open(nullptr, dir.file("rec.mp3")));
    ASSERT_TRUE(recorder.Start());
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    recorder.Close();
    double run = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(recorder.DroppedBytes(), 0u);
    // The source runs ahead of real time by up to a block; none of it is lost.
    EXPECT_GE(double(recorder.CapturedBytes()) / 176400, run - 0.2);
}
