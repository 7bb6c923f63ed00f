// A wave-in device driven by the test: it fills queued buffers when told to and
// fails the steps it is told to fail.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wavein.h"

class FakeWaveIn : public IWaveInDevice {
public:
    struct Failures {
        bool open = false, prepare = false, add = false, start = false, stop = false, reset = false, close = false;
        int addAfter = -1;  // AddBuffer fails from this call on
    };
    Failures fail;
    std::atomic<int> adds{0}, starts{0}, stops{0}, resets{0}, closes{0}, opens{0};
    std::atomic<bool> open{false};

    MMRESULT Open(UINT, const WAVEFORMATEX& format, IThreadMessageQueue* callback) override {
        ++opens;
        if (fail.open || open)
            return MMSYSERR_BADDEVICEID;
        lastFormat = format;
        queue.SetCallback(callback);
        open = true;
        return MMSYSERR_NOERROR;
    }
    MMRESULT PrepareHeader(WAVEHDR* h) override {
        if (!open)
            return MMSYSERR_INVALHANDLE;
        return fail.prepare ? MMSYSERR_NOMEM : queue.Prepare(h);
    }
    MMRESULT UnprepareHeader(WAVEHDR* h) override { return open ? queue.Unprepare(h) : MMSYSERR_INVALHANDLE; }
    MMRESULT AddBuffer(WAVEHDR* h) override {
        if (!open)
            return MMSYSERR_INVALHANDLE;
        int n = adds++;
        if (fail.add || (fail.addAfter >= 0 && n >= fail.addAfter))
            return MMSYSERR_NOMEM;
        return queue.Add(h);
    }
    MMRESULT Start() override {
        ++starts;
        if (!open || fail.start)
            return MMSYSERR_ERROR;
        queue.SetCapturing(true);
        return MMSYSERR_NOERROR;
    }
    MMRESULT Stop() override {
        ++stops;
        if (!open || fail.stop)
            return MMSYSERR_ERROR;
        queue.SetCapturing(false);
        queue.ReturnPartial();
        return MMSYSERR_NOERROR;
    }
    MMRESULT Reset() override {
        ++resets;
        if (!open || fail.reset)
            return MMSYSERR_ERROR;
        queue.SetCapturing(false);
        queue.ReturnAll();
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close() override {
        ++closes;
        if (!open || fail.close)
            return MMSYSERR_ERROR;
        if (queue.QueuedCount() > 0)
            return WAVERR_STILLPLAYING;
        open = false;
        queue.SetCallback(nullptr);
        return MMSYSERR_NOERROR;
    }
    uint64_t DroppedBytes() const override { return queue.DroppedBytes(); }

    // Records `bytes` of a counting pattern.
    void Feed(size_t bytes) {
        std::vector<uint8_t> data(bytes);
        for (auto& b : data)
            b = static_cast<uint8_t>(m_counter++);
        queue.Write(data.data(), data.size());
    }
    size_t Queued() const { return queue.QueuedCount(); }

    WAVEFORMATEX lastFormat{};
    CWaveInBufferQueue queue;

private:
    uint32_t m_counter = 0;
};

// Forwards to a FakeWaveIn that the factory keeps, so tests can look at the
// device after the capture thread that used it is gone.
class FakeWaveInProxy : public IWaveInDevice {
public:
    explicit FakeWaveInProxy(FakeWaveIn* device) : m_device(device) {}
    MMRESULT Open(UINT id, const WAVEFORMATEX& f, IThreadMessageQueue* cb) override { return m_device->Open(id, f, cb); }
    MMRESULT PrepareHeader(WAVEHDR* h) override { return m_device->PrepareHeader(h); }
    MMRESULT UnprepareHeader(WAVEHDR* h) override { return m_device->UnprepareHeader(h); }
    MMRESULT AddBuffer(WAVEHDR* h) override { return m_device->AddBuffer(h); }
    MMRESULT Start() override { return m_device->Start(); }
    MMRESULT Stop() override { return m_device->Stop(); }
    MMRESULT Reset() override { return m_device->Reset(); }
    MMRESULT Close() override { return m_device->Close(); }
    uint64_t DroppedBytes() const override { return m_device->DroppedBytes(); }

private:
    FakeWaveIn* m_device;
};

// Installs a factory that hands out FakeWaveIn devices and remembers them.
class FakeWaveInFactory {
public:
    FakeWaveInFactory() {
        SetWaveInFactoryForTesting([this] {
            auto device = std::make_unique<FakeWaveIn>();
            device->fail = failures;
            std::lock_guard<std::mutex> guard(m_lock);
            m_devices.push_back(std::move(device));
            return std::unique_ptr<IWaveInDevice>(std::make_unique<FakeWaveInProxy>(m_devices.back().get()));
        });
    }
    ~FakeWaveInFactory() { SetWaveInFactoryForTesting(nullptr); }
    FakeWaveIn* last() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_devices.empty() ? nullptr : m_devices.back().get();
    }
    FakeWaveIn::Failures failures;

private:
    std::mutex m_lock;
    std::vector<std::unique_ptr<FakeWaveIn>> m_devices;
};
