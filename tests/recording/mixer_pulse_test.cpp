// The recording mixer and the capture against a real PulseAudio daemon that the
// test starts for itself.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

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
        ReleaseWaveInDevices();
    }
    void TearDown() override { ReleaseWaveInDevices(); }

    PrivatePulseDaemon m_daemon;
    testsupport::ScopedEnv m_mixer{"VORUR_MIXER", "pulse"};
};

size_t FirstLoud(const std::vector<double>& x) {
    for (size_t i = 0; i < x.size(); ++i)
        if (std::fabs(x[i]) > 800)
            return i;
    return 0;
}

}  // namespace

TEST_F(PulseMixer, ListsTheInputWithItsMicrophoneAndTheOutputsMonitor) {
    auto& devices = GetWaveInDevices();
    ASSERT_EQ(devices.size(), 1u) << "monitors are lines, not devices";
    EXPECT_EQ(devices[0]->m_caps.szPname, "Vorur_Mic");
    EXPECT_TRUE(devices[0]->m_caps.dwFormats & WAVE_FORMAT_4S16);
    ASSERT_TRUE(devices[0]->m_mixer.Open());
    const auto& lines = devices[0]->m_mixer.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]->m_line.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_EQ(lines[0]->m_line.szName, "Vorur_Mic");
    EXPECT_EQ(lines[1]->m_line.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    EXPECT_EQ(lines[1]->m_line.szName, "Monitor of Vorur_Out");
}

TEST_F(PulseMixer, SwitchesTheDefaultSourceAndSetsVolumesAndMute) {
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    EXPECT_EQ(mixer.m_dwSourceType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);

    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    EXPECT_EQ(m_daemon.DefaultSource(), "vorur_out.monitor");
    ASSERT_TRUE(mixer.SelectRecordMixer(0));
    EXPECT_EQ(m_daemon.DefaultSource(), "vorur_mic");

    ASSERT_TRUE(mixer.SetSourceVolume(50));
    EXPECT_NE(m_daemon.Pactl("get-source-volume vorur_out.monitor").find(" 50%"), std::string::npos);
    EXPECT_EQ(mixer.GetSourceVolume(), 50);
    ASSERT_TRUE(mixer.SetSourceVolume(150));
    EXPECT_EQ(mixer.GetSourceVolume(), 100);

    ASSERT_TRUE(mixer.SetMicVolume(0));
    EXPECT_EQ(mixer.GetMicVolume(), 0);
    ASSERT_TRUE(mixer.SetMicVolume(75));
    EXPECT_NE(m_daemon.Pactl("get-source-volume vorur_mic").find(" 75%"), std::string::npos);
    EXPECT_EQ(mixer.GetMicVolume(), 75);

    m_daemon.Pactl("set-source-mute vorur_mic 1");
    ASSERT_TRUE(mixer.UnmuteMic());
    EXPECT_NE(m_daemon.Pactl("get-source-mute vorur_mic").find("no"), std::string::npos);
}

TEST_F(PulseMixer, ADaemonThatGoesAwayMakesTheOperationsFailQuietly) {
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    m_daemon.Stop();
    auto t0 = std::chrono::steady_clock::now();
    // Nothing can be read any more (-1) or the mixer cannot be reached again (0).
    mixer.SelectRecordMixer(1);
    mixer.SetSourceVolume(40);
    EXPECT_LE(mixer.GetSourceVolume(), 0);
    EXPECT_LE(mixer.GetMicVolume(), 0);
    ReleaseWaveInDevices();
    EXPECT_FALSE(mixer.CheckDevice());
    EXPECT_EQ(mixer.m_strError, "CRudMixer::CheckDevice : 녹음이 가능한 사운드 카드가 없습니다.");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
}

TEST_F(PulseMixer, TheRecorderCapturesTheSourceTheMixerSelected) {
    testsupport::TempDir dir;
    std::vector<int16_t> speech = testmp3::SpeechPcm(dir.path(), "Good morning. Listen and repeat.");
    if (speech.empty())
        GTEST_SKIP() << "espeak-ng or sox is missing: no spoken input";
    ASSERT_TRUE(LoadCodecLibrary());
    testsupport::ScopedEnv driver("SDL_AUDIODRIVER", "pulseaudio");

    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    ASSERT_TRUE(mixer.SelectRecordMixer(0));
    ASSERT_EQ(m_daemon.DefaultSource(), "vorur_mic");

    CMP3Recorder recorder;
    std::string path = dir.file("rec.mp3");
    ASSERT_TRUE(recorder.Open(nullptr, path));
    ASSERT_TRUE(recorder.Start());
    // The microphone speaks at its own pace, then goes on with silence until the
    // recording is closed: a pipe source without data would stall the capture.
    int fifo = ::open(m_daemon.MicFifo().c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    std::atomic<bool> closed{false};
    std::atomic<bool> spoken{false};
    std::thread mic([&] {
        const char* bytes = reinterpret_cast<const char*>(speech.data());
        size_t total = speech.size() * 2;
        std::vector<char> silence(4096, 0);
        auto t0 = std::chrono::steady_clock::now();
        for (size_t pos = 0; !closed; pos += 4096) {
            const char* data = pos < total ? bytes + pos : silence.data();
            size_t n = pos < total ? std::min<size_t>(4096, total - pos) : 4096;
            if (::write(fifo, data, n) != static_cast<ssize_t>(n))
                break;
            if (pos >= total + 176400 / 2)
                spoken = true;
            std::this_thread::sleep_until(t0 + std::chrono::microseconds(static_cast<long>((pos + n) * 1e6 / 176400)));
        }
    });
    while (!spoken)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    recorder.Close();
    closed = true;
    mic.join();
    ::close(fifo);
    EXPECT_EQ(recorder.DroppedBytes(), 0u);

    testmp3::Decoded decoded = testmp3::DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    std::vector<double> in = testmp3::MonoDownsampled(speech, 2);
    std::vector<double> out = testmp3::MonoDownsampled(decoded.pcm, 1);
    size_t a = FirstLoud(in), b = FirstLoud(out);
    ASSERT_GT(b, 0u) << "the recording holds the speech";
    in.erase(in.begin(), in.begin() + static_cast<long>(std::min(a, a > 500 ? a - 500 : 0)));
    out.erase(out.begin(), out.begin() + static_cast<long>(b > 1000 ? b - 1000 : 0));
    EXPECT_GT(testmp3::BestCorrelation(in, out, 2000), 0.6);
}
