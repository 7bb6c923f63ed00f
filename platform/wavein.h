// Wave-in device layer: records from the default recording device into buffers
// that the caller queues, and hands each filled buffer back as a buffer-done
// message (MM_WIM_DATA, lParam = the buffer's header) in the caller's own message
// queue. The calls and results follow the classic wave-in interface, so the
// capture thread reads like its original.
//
// Backends: SDL2 audio capture (PulseAudio, PipeWire or ALSA on a desktop; the
// dummy and disk drivers in CI, chosen with SDL_AUDIODRIVER). Tests substitute
// their own devices through SetWaveInFactoryForTesting.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "wintypes.h"

using MMRESULT = UINT;
using WORD = uint16_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// Notifications posted to the callback queue.
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;

// The platform's quit message for thread queues.
constexpr UINT WM_QUIT = 0x0012;

// Header flags.
constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

// The system's default recording device.
constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;

constexpr WORD WAVE_FORMAT_PCM = 1;

struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};

// A capture buffer's header. The caller owns the header and its data block.
struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    uintptr_t dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    uintptr_t reserved;
};

// A thread's own message queue, the target of the device's notifications.
class IThreadMessageQueue {
public:
    virtual ~IThreadMessageQueue() = default;
    // Thread-safe; false when the queue no longer takes messages.
    virtual bool PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// One recording device. Not thread-safe except DroppedBytes(): one thread drives
// it, the device's own thread fills the queued buffers.
class IWaveInDevice {
public:
    virtual ~IWaveInDevice() = default;
    // deviceId: WAVE_MAPPER for the default device. Notifications go to `callback`.
    virtual MMRESULT Open(UINT deviceId, const WAVEFORMATEX& format, IThreadMessageQueue* callback) = 0;
    virtual MMRESULT PrepareHeader(WAVEHDR* header) = 0;
    virtual MMRESULT UnprepareHeader(WAVEHDR* header) = 0;
    // Queues a prepared buffer; buffers are filled in the order they were queued.
    virtual MMRESULT AddBuffer(WAVEHDR* header) = 0;
    virtual MMRESULT Start() = 0;
    // Stops recording; a partly filled current buffer is handed back, empty ones stay queued.
    virtual MMRESULT Stop() = 0;
    // Stops recording and hands back every queued buffer with what it holds so far.
    // Afterwards the device holds no buffer.
    virtual MMRESULT Reset() = 0;
    // Fails with WAVERR_STILLPLAYING while buffers are queued.
    virtual MMRESULT Close() = 0;
    // Bytes the device recorded while no buffer was queued. Stays 0 in normal use.
    virtual uint64_t DroppedBytes() const = 0;
};

// A new device of the configured backend.
std::unique_ptr<IWaveInDevice> CreateWaveInDevice();

// Makes CreateWaveInDevice use `factory`; an empty function restores the real backend.
using WaveInFactory = std::function<std::unique_ptr<IWaveInDevice>()>;
void SetWaveInFactoryForTesting(WaveInFactory factory);

// The buffer queue shared by device implementations: the header flag rules, the
// filling of queued buffers in order, their return as buffer-done messages, and
// the count of dropped bytes. Thread-safe.
class CWaveInBufferQueue {
public:
    void SetCallback(IThreadMessageQueue* callback);
    MMRESULT Prepare(WAVEHDR* header);
    MMRESULT Unprepare(WAVEHDR* header);
    MMRESULT Add(WAVEHDR* header);
    // Recorded bytes arrive only while capturing; others are ignored.
    void SetCapturing(bool capturing);
    // Copies recorded bytes into the queued buffers; each full buffer is handed back.
    // Bytes with no buffer to go to are dropped and counted.
    void Write(const uint8_t* data, size_t bytes);
    // Hands back the current buffer if it holds anything.
    void ReturnPartial();
    // Hands back every queued buffer.
    void ReturnAll();
    size_t QueuedCount() const;
    uint64_t DroppedBytes() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    void ReturnFrontLocked();

    mutable std::mutex m_lock;
    std::deque<WAVEHDR*> m_queue;
    IThreadMessageQueue* m_callback = nullptr;
    bool m_capturing = false;
    std::atomic<uint64_t> m_dropped{0};
};
