// The recorder end to end: SDL's disk driver plays a spoken file into the
// default recording device, the recorder turns it into an MP3 file.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "codec_binding.h"
#include "fake_wavein.h"
#include "mp3_decode.h"
#include "mp3_recorder.h"
#include "test_support.h"

namespace {

class CountingTarget : public IMessageTarget {
public:
    bool IsWindow() const override { return true; }
    bool PostMessage(UINT msg, WPARAM wParam, LPARAM) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (msg == WM_RECORD_LEVEL)
            levels.push_back(wParam);
        return true;
    }
    std::vector<WPARAM> Levels() {
        std::lock_guard<std::mutex> guard(m_lock);
        return levels;
    }

private:
    std::mutex m_lock;
    std::vector<WPARAM> levels;
};

// One output frame plus the encoder's delay at 22050 Hz.
constexpr double kTolerance = (576.0 + 1105.0) / 22050.0;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TEST(Mp3Recorder, RecordsSpeechFromTheDefaultDeviceIntoAMatchingMp3) {
    testsupport::TempDir dir;
    std::vector<int16_t> speech = testmp3::SpeechPcm(dir.path(), "Please repeat after me. The weather is fine today.");
    if (speech.empty())
        GTEST_SKIP() << "espeak-ng or sox is missing: no spoken input";
    std::string raw = dir.file("speech.raw");
    testsupport::ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    testsupport::ScopedEnv input("SDL_DISKAUDIOFILEIN", raw);
    testsupport::ScopedEnv output("SDL_DISKAUDIOFILE", "/dev/null");
    ASSERT_TRUE(LoadCodecLibrary());

    double speechSeconds = double(speech.size()) / 2 / 44100;
    CountingTarget target;
    CMP3Recorder recorder;
    std::string path = dir.file("rec.mp3");
    ASSERT_TRUE(recorder.Open(&target, path));
    ASSERT_TRUE(recorder.Start());
    EXPECT_TRUE(recorder.IsCapturing());
    Sleep(static_cast<int>(speechSeconds * 1000) + 300);
    recorder.Close();
    EXPECT_FALSE(recorder.IsCapturing());
    EXPECT_FALSE(recorder.WriteFailed());

    double captured = double(recorder.CapturedBytes()) / 176400;
    EXPECT_GT(captured, speechSeconds);
    testmp3::Decoded decoded = testmp3::DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.rate, 22050);
    EXPECT_NEAR(decoded.Seconds(), captured, kTolerance);

    // The recording is the speech, shifted by the encoder's delay.
    std::vector<double> in = testmp3::MonoDownsampled(speech, 2);
    std::vector<double> out = testmp3::MonoDownsampled(decoded.pcm, 1);
    int lag = 0;
    EXPECT_GT(testmp3::BestCorrelation(in, out, 3000, &lag), 0.7);
    EXPECT_LT(lag, 2000);

    // About one level every two buffers, and the speech shows on the meter.
    std::vector<WPARAM> levels = target.Levels();
    size_t buffers = recorder.CapturedBytes() / 4096;
    EXPECT_NEAR(double(levels.size()), buffers / 2.0, 2.0);
    EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 20u);
}

TEST(Mp3Recorder, OpenIsIdempotentAndAnEmptyRecordingLeavesAnEmptyFile) {
    testsupport::TempDir dir;
    ASSERT_TRUE(LoadCodecLibrary());
    std::string first = dir.file("first.mp3");
    ASSERT_TRUE(testsupport::WriteFile(first, "old contents"));
    CountingTarget a, b;
    CMP3Recorder recorder;
    ASSERT_TRUE(recorder.Open(&a, first));
    EXPECT_EQ(testsupport::ReadFile(first), "") << "an existing file is truncated";
    // A second Open changes nothing, not even the level window.
    EXPECT_TRUE(recorder.Open(&b, dir.file("second.mp3")));
    EXPECT_FALSE(testsupport::Exists(dir.file("second.mp3")));
    ASSERT_TRUE(recorder.Start());
    Sleep(300);
    recorder.Close();
    EXPECT_FALSE(a.Levels().empty());
    EXPECT_TRUE(b.Levels().empty());
    EXPECT_GT(testsupport::ReadFile(first).size(), 0u);

    // Closed right after Open: an empty file. Close twice is harmless.
    ASSERT_TRUE(recorder.Open(&a, first));
    recorder.Close();
    recorder.Close();
    EXPECT_EQ(testsupport::ReadFile(first), "");
}

TEST(Mp3Recorder, FailuresToOpenOrStartLeaveNothingRunning) {
    testsupport::TempDir dir;
    ASSERT_TRUE(LoadCodecLibrary());
    CMP3Recorder recorder;
    EXPECT_FALSE(recorder.Open(nullptr, dir.file("missing/folder/rec.mp3")));
    EXPECT_FALSE(recorder.IsCapturing());
    EXPECT_TRUE(recorder.Start()) << "nothing open: nothing to start";

    FakeWaveInFactory factory;
    factory.failures.open = true;
    std::string path = dir.file("rec.mp3");
    ASSERT_TRUE(recorder.Open(nullptr, path));
    EXPECT_FALSE(recorder.Start());
    EXPECT_FALSE(recorder.IsCapturing());
    recorder.Close();
    EXPECT_EQ(testsupport::ReadFile(path), "");
}

TEST(Mp3Recorder, EmptyBuffersAreNeitherAnalysedNorEncodedAndPartialOnesAre) {
    testsupport::TempDir dir;
    ASSERT_TRUE(LoadCodecLibrary());
    FakeWaveInFactory factory;
    CountingTarget target;
    CMP3Recorder recorder;
    std::string path = dir.file("rec.mp3");
    ASSERT_TRUE(recorder.Open(&target, path));
    ASSERT_TRUE(recorder.Start());
    FakeWaveIn* device = factory.last();
    // Fed at the pace the ring is refilled, as a device would.
    for (int i = 0; i < 40; ++i) {
        device->Feed(4096);
        for (int wait = 0; wait < 500 && device->Queued() < 20; ++wait)
            Sleep(1);
    }
    device->Feed(2000);
    EXPECT_EQ(device->DroppedBytes(), 0u);
    recorder.Close();  // the stop hands back the partial buffer and 19 empty ones
    EXPECT_EQ(recorder.CapturedBytes(), 40u * 4096 + 2000);
    EXPECT_EQ(target.Levels().size(), 20u) << "41 non-empty buffers make 20 pairs";
    testmp3::Decoded decoded = testmp3::DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_NEAR(decoded.Seconds(), (40.0 * 4096 + 2000) / 176400, kTolerance);
}

TEST(Mp3Recorder, AFullDiskStopsTheWritingAndIsReportedAfterClose) {
    ASSERT_TRUE(LoadCodecLibrary());
    if (!testsupport::Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this system";
    CountingTarget target;
    CMP3Recorder recorder;
    ASSERT_TRUE(recorder.Open(&target, "/dev/full"));
    ASSERT_TRUE(recorder.Start());
    Sleep(400);
    EXPECT_TRUE(recorder.IsCapturing()) << "capture goes on";
    auto t0 = std::chrono::steady_clock::now();
    recorder.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_TRUE(recorder.WriteFailed());
    EXPECT_EQ(recorder.WriteError(), ENOSPC);
    EXPECT_FALSE(target.Levels().empty()) << "the level meter kept going";

    // The next recording starts with a clean slate.
    testsupport::TempDir dir;
    ASSERT_TRUE(recorder.Open(&target, dir.file("rec.mp3")));
    ASSERT_TRUE(recorder.Start());
    Sleep(200);
    recorder.Close();
    EXPECT_FALSE(recorder.WriteFailed());
    EXPECT_EQ(recorder.WriteError(), 0);
}

// A level window that holds the capture thread up once, as a slow disk under the
// recording file would.
class StallingTarget : public IMessageTarget {
public:
    bool IsWindow() const override { return true; }
    bool PostMessage(UINT, WPARAM, LPARAM) override {
        if (++m_count == 30)
            Sleep(3000);
        return true;
    }

private:
    std::atomic<int> m_count{0};
};

TEST(Mp3Recorder, SecondsLongBlocksAndAStalledCaptureThreadLoseNothing) {
    testsupport::TempDir dir;
    ASSERT_TRUE(LoadCodecLibrary());
    FakeWaveInFactory factory;
    StallingTarget target;
    CMP3Recorder recorder;
    std::string path = dir.file("rec.mp3");
    ASSERT_TRUE(recorder.Open(&target, path));
    ASSERT_TRUE(recorder.Start());
    auto t0 = std::chrono::steady_clock::now();
    FakeWaveIn* device = factory.last();
    // Each block arrives once its two seconds have passed; the stall falls into the
    // second block, so the third arrives while the thread is still held up.
    constexpr int kBlocks = 4;
    constexpr size_t kBlock = 2 * 176400;
    for (int i = 1; i <= kBlocks; ++i) {
        std::this_thread::sleep_until(t0 + std::chrono::seconds(2 * i));
        device->Feed(kBlock);
    }
    Sleep(50);
    double run = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    recorder.Close();
    EXPECT_EQ(recorder.DroppedBytes(), 0u);
    EXPECT_EQ(recorder.CapturedBytes(), kBlocks * kBlock);
    testmp3::Decoded decoded = testmp3::DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_NEAR(decoded.Seconds(), run, 0.2);
}
