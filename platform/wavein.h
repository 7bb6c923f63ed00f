// Wave-in device layer: records from the default recording device into buffers
// that the caller queues, and hands each filled buffer back as a buffer-done
// message (MM_WIM_DATA, lParam = the buffer's header) in the caller's own message
// queue. The calls and results follow the classic wave-in interface, so the
// capture thread reads like its original.
//
// The device records what the capture route (capture_route.h) names: a source of
// the sound server through libpulse (PulseAudio, or PipeWire's PulseAudio service),
// or SDL2's default recording device (its dummy and disk drivers in CI, chosen with
// SDL_AUDIODRIVER). Tests substitute their own devices through
// SetWaveInFactoryForTesting.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

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
    // True when the device lost its source while recording and could not get it
    // back: the recording misses the rest. Thread-safe; false again after Open.
    virtual bool Failed() const { return false; }
};

// A new device of the configured backend.
std::unique_ptr<IWaveInDevice> CreateWaveInDevice();

// Makes CreateWaveInDevice use `factory`; an empty function restores the real backend.
using WaveInFactory = std::function<std::unique_ptr<IWaveInDevice>()>;
void SetWaveInFactoryForTesting(WaveInFactory factory);

class CPlaybackTap;

// The buffer queue shared by device implementations: the header flag rules, the
// filling of queued buffers in order, their return as buffer-done messages, and
// the count of dropped bytes. Thread-safe.
//
// Recorded sound that finds no queued buffer (the capture thread is busy, or the
// source delivers seconds at a time) waits in a backlog of kBacklogBytes and goes
// into the next buffers queued, oldest first; only what overflows the backlog is
// dropped. With a playback tap, what the player played is added to the recorded
// sound as it arrives (the playback-mix line).
class CWaveInBufferQueue {
public:
    // 6 s of 44.1 kHz stereo 16-bit sound.
    static constexpr size_t kBacklogBytes = 6 * 176400;

    void SetCallback(IThreadMessageQueue* callback);
    MMRESULT Prepare(WAVEHDR* header);
    MMRESULT Unprepare(WAVEHDR* header);
    MMRESULT Add(WAVEHDR* header);
    // Recorded bytes arrive only while capturing; others are ignored. Starting a
    // capture attaches the playback tap, if any; stopping detaches it.
    void SetCapturing(bool capturing);
    // What the player plays is mixed into the recorded sound, at the gain the
    // playback-mix controls set; null: the sound as recorded. The format must be
    // 44.1 kHz stereo 16-bit. Set before capturing starts.
    void SetPlaybackTap(CPlaybackTap* tap);
    // Copies recorded bytes into the queued buffers; each full buffer is handed back.
    // Bytes with no buffer to go to wait in the backlog; what overflows it is dropped
    // and counted.
    void Write(const uint8_t* data, size_t bytes);
    // Fills the queued buffers from the backlog, then hands back the current buffer
    // if it holds anything.
    void ReturnPartial();
    // Fills the queued buffers from the backlog, then hands back every queued
    // buffer; what is still in the backlog then is dropped and counted.
    void ReturnAll();
    size_t QueuedCount() const;
    size_t BacklogBytes() const;
    uint64_t DroppedBytes() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    void ReturnFrontLocked();
    // Copies into the queued buffers; returns how many bytes found room.
    size_t FillQueuedLocked(const uint8_t* data, size_t bytes);
    void DrainBacklogLocked();

    mutable std::mutex m_lock;
    std::deque<WAVEHDR*> m_queue;
    IThreadMessageQueue* m_callback = nullptr;
    bool m_capturing = false;
    CPlaybackTap* m_tap = nullptr;
    std::vector<uint8_t> m_mixed;    // the recorded bytes with the playback added
    std::vector<uint8_t> m_backlog;  // ring of kBacklogBytes, allocated when first needed
    size_t m_backlogStart = 0;
    size_t m_backlogSize = 0;
    std::atomic<uint64_t> m_dropped{0};
};

// Keeps a recording as long as its capture ran across a stretch in which the source
// delivered nothing because its sound server went away: the silence due at a moment
// is the capture's running time in whole frames less what was recorded, so what the
// server held and lost counts too. It is asked for as time passes, so the recording
// goes on at its pace and no single write outgrows the backlog. Not thread-safe.
class CCaptureTimeline {
public:
    using Clock = std::chrono::steady_clock;

    void SetFormat(uint32_t samplesPerSec, uint32_t frameBytes);
    // Capture begins at `now`, with nothing recorded.
    void Start(Clock::time_point now);
    // The source delivered this many bytes.
    void Delivered(size_t bytes);
    // Bytes of silence that bring the recording up to `now`; they count as delivered.
    size_t SilenceDue(Clock::time_point now);

private:
    uint32_t m_rate = 44100;
    uint32_t m_frameBytes = 4;
    Clock::time_point m_start{};
    uint64_t m_bytes = 0;
};

// What the real devices share: the header rules and buffer flow of the queue, the
// format check, the playback mix the capture route asks for, and the open and close
// notifications. A backend opens, runs, pauses and closes its own stream and writes
// what it records into m_buffers.
class CQueuedWaveInDevice : public IWaveInDevice {
public:
    MMRESULT Open(UINT deviceId, const WAVEFORMATEX& format, IThreadMessageQueue* callback) override;
    MMRESULT PrepareHeader(WAVEHDR* header) override;
    MMRESULT UnprepareHeader(WAVEHDR* header) override;
    MMRESULT AddBuffer(WAVEHDR* header) override;
    MMRESULT Start() override;
    MMRESULT Stop() override;
    MMRESULT Reset() override;
    MMRESULT Close() override;
    uint64_t DroppedBytes() const override { return m_buffers.DroppedBytes(); }
    bool Failed() const override { return m_failed.load(std::memory_order_acquire); }

protected:
    virtual bool IsDeviceOpen() const = 0;
    // Opens the stream paused; on failure nothing of it stays open.
    virtual MMRESULT OpenDevice(UINT deviceId, const WAVEFORMATEX& format) = 0;
    // Runs or pauses the stream; false when the device refused.
    virtual bool RunDevice(bool run) = 0;
    // Closes the stream; no write into m_buffers follows. Derived destructors call it.
    virtual void CloseDevice() = 0;
    // After CloseDevice: the queue forgets the caller.
    void ReleaseQueue();
    // The source is gone for good (any thread).
    void MarkFailed() { m_failed.store(true, std::memory_order_release); }

    CWaveInBufferQueue m_buffers;

private:
    // Stop and Reset: pauses the stream, then hands back the partly filled buffer
    // only, or every queued one.
    MMRESULT Halt(bool returnAll);

    IThreadMessageQueue* m_callbackQueue = nullptr;
    std::atomic<bool> m_failed{false};
};
