// The capture thread: owns the wave-in device while capture runs, keeps a ring
// of buffers queued at the device and hands every filled buffer to a sink.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "thread_queue.h"
#include "wavein.h"
#include "wintypes.h"

// The sink of captured audio. All three operations run on the capture thread.
class ISyncWave {
public:
    // Capture has started: the device is open, every buffer queued, the device runs.
    virtual void OnWaveStart() = 0;
    // A stop command has been carried out (whether or not every step succeeded).
    virtual void OnWaveStop() = 0;
    // One buffer has been filled with `bytes` bytes (0 is possible). `data` is valid
    // only during the call.
    virtual void OnWaveData(const char* data, DWORD bytes) = 0;
    virtual ~ISyncWave() = default;
};

class CRecordWave {
public:
    // Starts a capture thread with `count` buffers of `size` bytes feeding `sink`.
    // Null when the thread could not be created; nothing is left over then.
    static CRecordWave* CreateCaptureThread(ISyncWave* sink, int count, int size);

    // Ends the thread (Quit) first.
    virtual ~CRecordWave();
    CRecordWave(const CRecordWave&) = delete;
    CRecordWave& operator=(const CRecordWave&) = delete;

    // Owner side. Both wait for the capture thread, polling every 100 ms.
    BOOL StartCapture();  // true = capture is running
    BOOL StopCapture();   // true = capture is stopped
    // Stops capture if it runs, ends the thread and waits for its end. Harmless twice.
    void Quit();

    // True from a successful device start until a successful close.
    BOOL IsRunning() const { return m_bRunning.load(std::memory_order_acquire); }
    // Bytes the device recorded while no buffer was queued (0 in normal use).
    uint64_t GetDroppedBytes() const;
    // True when the device lost its source for good during this capture.
    bool GetCaptureFailed() const;

    // The pause between resetting and closing the device in a stop (500 ms).
    void SetStopSettleTimeForTesting(unsigned ms) { m_nStopSettleMs = ms; }

protected:
    CRecordWave();

    // Thread side.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    void OnCaptureCommand(WPARAM wParam, LPARAM lParam);
    void OnWimData(WPARAM wParam, LPARAM lParam);

private:
    void Run();
    void HandleStart();
    void HandleStop();
    void AbandonFailedStart(int queued);
    bool PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    WAVEFORMATEX m_wfx;
    IWaveInDevice* m_hWaveIn;  // the open device; null while capture is stopped
    int m_nBufferCount;
    int m_nBufferSize;
    std::atomic<BOOL> m_bRunning;
    CManualResetEvent m_evStarted;
    CManualResetEvent m_evStopped;
    WAVEHDR** m_pBuffers;
    ISyncWave* m_pSink;

    std::unique_ptr<IWaveInDevice> m_device;
    CThreadMessageQueue m_queue;
    std::thread m_thread;
    unsigned m_nStopSettleMs = 500;
};
