// The capture thread against a fake device: command order, buffer flow and failures.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_wavein.h"
#include "capture_route.h"
#include "record_wave.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records what the capture thread tells it, in order: "start", "stop", "data:<bytes>".
class RecordingSink : public ISyncWave {
public:
    void OnWaveStart() override { Add("start"); }
    void OnWaveStop() override { Add("stop"); }
    void OnWaveData(const char* data, DWORD bytes) override {
        Add("data:" + std::to_string(bytes));
        std::lock_guard<std::mutex> guard(m_lock);
        if (bytes)
            firstBytes.push_back(static_cast<uint8_t>(data[0]));
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events;
    }
    // Waits until `n` events have arrived.
    bool WaitFor(size_t n) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_cv.wait_for(guard, std::chrono::seconds(5), [&] { return m_events.size() >= n; });
    }
    std::vector<uint8_t> firstBytes;

private:
    void Add(const std::string& e) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_events.push_back(e);
        }
        m_cv.notify_all();
    }
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<std::string> m_events;
};

long Ms(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

CRecordWave* NewThread(RecordingSink& sink) {
    CRecordWave* wave = CRecordWave::CreateCaptureThread(&sink, 20, 4096);
    if (wave)
        wave->SetStopSettleTimeForTesting(10);
    return wave;
}

}  // namespace

TEST(CaptureThread, StartsStopsAndDeliversEveryBufferInOrder) {
    FakeWaveInFactory factory;
    RecordingSink sink;
    CRecordWave* wave = NewThread(sink);
    ASSERT_NE(wave, nullptr);
    FakeWaveIn* device = factory.last();
    EXPECT_FALSE(wave->IsRunning());

    auto t0 = Clock::now();
    ASSERT_TRUE(wave->StartCapture());
    EXPECT_GE(Ms(t0), 100) << "the first look at the event comes after 100 ms";
    EXPECT_TRUE(wave->IsRunning());
    EXPECT_EQ(device->lastFormat.nSamplesPerSec, 44100u);
    EXPECT_EQ(device->lastFormat.nChannels, 2);
    EXPECT_EQ(device->lastFormat.wBitsPerSample, 16);
    EXPECT_EQ(device->lastFormat.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(device->Queued(), 20u);

    // Starting again posts nothing and returns at once.
    t0 = Clock::now();
    EXPECT_TRUE(wave->StartCapture());
    EXPECT_LT(Ms(t0), 50);
    EXPECT_EQ(device->opens.load(), 1);

    // Sixty buffers: the ring of twenty must be queued again as each comes back.
    for (int i = 0; i < 60; ++i) {
        device->Feed(4096);
        ASSERT_TRUE(sink.WaitFor(2 + i));
        for (int wait = 0; wait < 500 && device->Queued() < 20; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(device->DroppedBytes(), 0u);
    // The last buffer is queued again right after the sink has had it.
    for (int wait = 0; wait < 500 && device->Queued() < 20; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(device->Queued(), 20u);
    device->Feed(1000);  // a partly filled buffer at the stop

    ASSERT_TRUE(wave->StopCapture());
    EXPECT_FALSE(wave->IsRunning());
    EXPECT_FALSE(device->open);
    // Stopping again posts nothing.
    t0 = Clock::now();
    EXPECT_TRUE(wave->StopCapture());
    EXPECT_LT(Ms(t0), 50);

    ASSERT_TRUE(sink.WaitFor(1 + 60 + 1 + 1 + 19));
    std::vector<std::string> events = sink.Events();
    ASSERT_EQ(events.size(), 82u);
    EXPECT_EQ(events[0], "start");
    for (int i = 1; i <= 60; ++i)
        ASSERT_EQ(events[i], "data:4096");
    // The stop is carried out first; the buffers it handed back follow.
    EXPECT_EQ(events[61], "stop");
    EXPECT_EQ(events[62], "data:1000");
    for (size_t i = 63; i < events.size(); ++i)
        EXPECT_EQ(events[i], "data:0");
    // Capture order: each buffer starts where the one before ended.
    for (size_t i = 0; i < sink.firstBytes.size(); ++i)
        ASSERT_EQ(sink.firstBytes[i], static_cast<uint8_t>(i * 4096));

    // None of the handed-back buffers was queued again.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(device->Queued(), 0u);
    EXPECT_EQ(device->adds.load(), 20 + 60);
    delete wave;
}

TEST(CaptureThread, QuitWhileRunningStopsFirstAndDrainsTheBuffers) {
    FakeWaveInFactory factory;
    RecordingSink sink;
    CRecordWave* wave = NewThread(sink);
    ASSERT_TRUE(wave->StartCapture());
    FakeWaveIn* device = factory.last();
    device->Feed(4096 * 2 + 10);
    ASSERT_TRUE(sink.WaitFor(3));
    wave->Quit();
    std::vector<std::string> events = sink.Events();
    ASSERT_EQ(events.size(), 1u + 2 + 1 + 20);
    EXPECT_EQ(events[3], "stop");
    EXPECT_EQ(events[4], "data:10");
    EXPECT_EQ(events.back(), "data:0");
    EXPECT_FALSE(device->open);
    wave->Quit();  // harmless after the end
    delete wave;
    EXPECT_EQ(sink.Events().size(), events.size());
}

TEST(CaptureThread, AFailedOpenReturnsFalseAfterAboutAPollAndTellsTheSinkNothing) {
    FakeWaveInFactory factory;
    factory.failures.open = true;
    RecordingSink sink;
    CRecordWave* wave = NewThread(sink);
    auto t0 = Clock::now();
    EXPECT_FALSE(wave->StartCapture());
    long elapsed = Ms(t0);
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 400);
    EXPECT_FALSE(wave->IsRunning());
    delete wave;
    EXPECT_TRUE(sink.Events().empty());
}

TEST(CaptureThread, AStartThatFailsHalfWayGivesTheDeviceUpCleanly) {
    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        FakeWaveInFactory factory;
        if (step == 0)
            factory.failures.prepare = true;
        if (step == 1)
            factory.failures.addAfter = 7;
        if (step == 2)
            factory.failures.start = true;
        RecordingSink sink;
        CRecordWave* wave = NewThread(sink);
        FakeWaveIn* device = factory.last();
        EXPECT_FALSE(wave->StartCapture());
        EXPECT_FALSE(wave->IsRunning());
        EXPECT_FALSE(device->open) << "the device is closed again";
        EXPECT_EQ(device->Queued(), 0u);

        // A later start is a fresh attempt: once the device behaves, it runs.
        device->fail = FakeWaveIn::Failures{};
        EXPECT_TRUE(wave->StartCapture());
        device->Feed(4096);
        ASSERT_TRUE(sink.WaitFor(2));
        delete wave;
        std::vector<std::string> events = sink.Events();
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events[0], "start") << "nothing from the failed start reached the sink";
        EXPECT_EQ(events[1], "data:4096");
    }
}

TEST(CaptureThread, AFailedStopKeepsRunningAndTheBuffersAreTakenBackBeforeTheyAreFreed) {
    FakeWaveInFactory factory;
    factory.failures.stop = true;
    RecordingSink sink;
    CRecordWave* wave = NewThread(sink);
    FakeWaveIn* device = factory.last();
    ASSERT_TRUE(wave->StartCapture());
    EXPECT_FALSE(wave->StopCapture());
    EXPECT_TRUE(wave->IsRunning());
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.Events()[1], "stop");
    EXPECT_EQ(device->Queued(), 20u);

    // The thread's end resets the device before it frees the buffers.
    delete wave;
    EXPECT_GE(device->resets.load(), 1);
    EXPECT_EQ(device->Queued(), 0u);
}

namespace {

// Collects the buffers a queue hands back.
class BufferCollector : public IThreadMessageQueue {
public:
    bool PostThreadMessage(UINT msg, WPARAM, LPARAM lParam) override {
        if (msg == MM_WIM_DATA) {
            auto* h = reinterpret_cast<WAVEHDR*>(lParam);
            const auto* s = reinterpret_cast<const int16_t*>(h->lpData);
            samples.insert(samples.end(), s, s + h->dwBytesRecorded / 2);
        }
        return true;
    }
    std::vector<int16_t> samples;
};

}  // namespace

// The playback-mix line: what the player played, added to the recorded sound as it
// arrives, at the playback-mix volume, clipped to 16 bits, the oldest played frames
// first, and never further behind than the tap allows.
TEST(PlaybackMix, AddsWhatWasPlayedToTheRecordedSound) {
    struct Case {
        const char* what;
        int16_t mic, played;
        size_t playedFrames, micFrames;  // played before the microphone's sound arrives
        uint32_t volume;
        bool mute;
        int16_t first;         // the first recorded sample
        size_t firstPlayed;    // which played frame lands first (played values count up)
        uint64_t skipped;
    };
    constexpr uint32_t kUnity = kPlaybackMixUnity;
    const Case cases[] = {
        {"voice and page sound add up", 1000, 500, 1024, 1024, kUnity, false, 1500, 0, 0},
        {"loud sums clip high", 30000, 10000, 1024, 1024, kUnity, false, 32767, 0, 0},
        {"loud sums clip low", -30000, -10000, 1024, 1024, kUnity, false, -32768, 0, 0},
        {"slider at half", 0, 1000, 1024, 1024, kUnity / 2, false, 500, 0, 0},
        {"muted playback", 1000, 500, 1024, 1024, kUnity, true, 1000, 0, 0},
        {"nothing played yet", 1000, 0, 0, 1024, kUnity, false, 1000, 0, 0},
        {"a block of 2 s finds its page sound", 0, -1, 88200, 88200, kUnity, false, 0, 0, 0},
        {"a capture far behind skips to one buffer of lag", 0, -1, 10000, 1024, kUnity, false, 0, 7952, 7952},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPlaybackTap tap;
        BufferCollector collector;
        CWaveInBufferQueue queue;
        std::vector<std::vector<char>> blocks(20, std::vector<char>(4096));
        std::vector<WAVEHDR> headers(blocks.size());
        queue.SetCallback(&collector);
        queue.SetPlaybackTap(&tap);
        for (size_t i = 0; i < blocks.size(); ++i) {
            headers[i] = WAVEHDR{blocks[i].data(), 4096, 0, 0, 0, 0, nullptr, 0};
            ASSERT_EQ(queue.Prepare(&headers[i]), MMSYSERR_NOERROR);
            ASSERT_EQ(queue.Add(&headers[i]), MMSYSERR_NOERROR);
        }
        SetPlaybackMixVolume(c.volume);
        SetPlaybackMixMute(c.mute);
        queue.SetCapturing(true);
        EXPECT_TRUE(tap.IsAttached());
        // A played value of -1 means "the frame's number", to see which frame lands where.
        std::vector<int16_t> played(c.playedFrames * 2);
        for (size_t i = 0; i < played.size(); ++i)
            played[i] = c.played == -1 ? static_cast<int16_t>((i / 2) % 30000) : c.played;
        tap.Push(played.data(), c.playedFrames);
        std::vector<int16_t> mic(c.micFrames * 2, c.mic);
        queue.Write(reinterpret_cast<const uint8_t*>(mic.data()), mic.size() * 2);
        // The capture thread catches up: buffers handed back are queued again and
        // take the sound that waited for them.
        while (queue.BacklogBytes() > 0)
            for (WAVEHDR& h : headers)
                if (h.dwFlags & WHDR_DONE)
                    queue.Add(&h);
        queue.SetCapturing(false);
        EXPECT_FALSE(tap.IsAttached());
        queue.ReturnAll();
        ASSERT_EQ(collector.samples.size(), mic.size()) << "the backlog kept what the buffers could not hold";
        int16_t expectFirst = c.played == -1 ? static_cast<int16_t>(c.firstPlayed) : c.first;
        EXPECT_EQ(collector.samples[0], expectFirst);
        EXPECT_EQ(collector.samples[1], expectFirst);
        if (c.played == -1) {
            EXPECT_EQ(collector.samples.back(), static_cast<int16_t>((c.firstPlayed + c.micFrames - 1) % 30000))
                << "continuous to the end";
        }
        EXPECT_EQ(tap.SkippedFrames(), c.skipped);
        EXPECT_EQ(queue.DroppedBytes(), 0u);
    }
    ResetCaptureRouteForTesting();
}

// The silence that stands for the time a sound server was away: what makes the
// recording as long as the capture has run, in whole frames, never given twice
// however often it is asked for; a source ahead of the clock owes nothing.
TEST(CaptureTimeline, SilenceBringsTheRecordingUpToTheCapturesRunningTime) {
    struct Case {
        const char* what;
        uint32_t rate, frameBytes;
        size_t delivered;                // before the server went away
        long everyMs, untilMs;           // asked every everyMs up to untilMs
        size_t silence;                  // given in all
        bool owesLater;                  // silence due a second later, after 0.5 s of sound
    };
    const Case cases[] = {
        {"away from 1 s to 3 s, asked at once", 44100, 4, 176400, 3000, 3000, 352800, true},
        {"asked every 7 ms: the pieces add up to the whole", 44100, 4, 0, 7, 2002, 88288 * 4, true},
        {"a block the server held when it went is silence too", 44100, 4, 88200, 2000, 2000, 264600, true},
        {"mono at 22.05 kHz", 22050, 2, 22050, 250, 2000, 66150, true},
        {"a source 1 s ahead owes nothing before then", 44100, 4, 352800, 250, 1000, 0, false},
    };
    const Clock::time_point base = Clock::now();
    auto at = [&](long ms) { return base + std::chrono::milliseconds(ms); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCaptureTimeline timeline;
        timeline.SetFormat(c.rate, c.frameBytes);
        timeline.Start(base);
        timeline.Delivered(c.delivered);
        size_t silence = 0;
        for (long ms = c.everyMs; ms <= c.untilMs; ms += c.everyMs) {
            size_t bytes = timeline.SilenceDue(at(ms));
            EXPECT_EQ(bytes % c.frameBytes, 0u) << "whole frames";
            silence += bytes;
        }
        EXPECT_EQ(silence, c.silence);
        EXPECT_EQ(timeline.SilenceDue(at(c.untilMs)), 0u) << "asked again at once";
        // Sound again for half a second, then away for a second: half a second is owed.
        timeline.Delivered(c.rate / 2 * c.frameBytes);
        EXPECT_EQ(timeline.SilenceDue(at(c.untilMs + 1000)), c.owesLater ? c.rate / 2 * c.frameBytes : 0u);
    }
}
