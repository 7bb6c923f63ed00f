#include "wavein.h"

#include "capture_route.h"

#include <algorithm>
#include <cstring>

std::unique_ptr<IWaveInDevice> CreateSdlWaveInDevice();
std::unique_ptr<IWaveInDevice> CreatePulseWaveInDevice();

namespace {
std::mutex g_factoryLock;
WaveInFactory g_factory;
}  // namespace

std::unique_ptr<IWaveInDevice> CreateWaveInDevice() {
    WaveInFactory factory;
    {
        std::lock_guard<std::mutex> guard(g_factoryLock);
        factory = g_factory;
    }
    if (factory)
        return factory();
    return GetCaptureRoute().server == CaptureServer::Pulse ? CreatePulseWaveInDevice() : CreateSdlWaveInDevice();
}

void SetWaveInFactoryForTesting(WaveInFactory factory) {
    std::lock_guard<std::mutex> guard(g_factoryLock);
    g_factory = std::move(factory);
}

void CWaveInBufferQueue::SetCallback(IThreadMessageQueue* callback) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_callback = callback;
}

MMRESULT CWaveInBufferQueue::Prepare(WAVEHDR* header) {
    if (!header || !header->lpData || header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(m_lock);
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CWaveInBufferQueue::Unprepare(WAVEHDR* header) {
    if (!header)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(m_lock);
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CWaveInBufferQueue::Add(WAVEHDR* header) {
    if (!header || !header->lpData || header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!(header->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    m_queue.push_back(header);
    // Sound that waited for a buffer goes in at once.
    DrainBacklogLocked();
    return MMSYSERR_NOERROR;
}

void CWaveInBufferQueue::SetCapturing(bool capturing) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_tap && capturing != m_capturing) {
        if (capturing)
            m_tap->Attach();
        else
            m_tap->Detach();
    }
    m_capturing = capturing;
}

void CWaveInBufferQueue::SetPlaybackTap(CPlaybackTap* tap) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_tap && m_capturing)
        m_tap->Detach();
    m_tap = tap;
    if (m_tap && m_capturing)
        m_tap->Attach();
}

void CWaveInBufferQueue::Write(const uint8_t* data, size_t bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_capturing || bytes == 0)
        return;
    if (m_tap) {
        // Whole frames only: a stray odd byte passes as it came.
        m_mixed.assign(data, data + bytes);
        m_tap->MixInto(reinterpret_cast<int16_t*>(m_mixed.data()), bytes / 4, PlaybackMixGain());
        data = m_mixed.data();
    }
    // Older sound first.
    DrainBacklogLocked();
    if (m_backlogSize == 0) {
        size_t n = FillQueuedLocked(data, bytes);
        data += n;
        bytes -= n;
    }
    if (bytes == 0)
        return;
    if (m_backlog.empty())
        m_backlog.resize(kBacklogBytes);
    size_t room = kBacklogBytes - m_backlogSize;
    if (bytes > room) {
        m_dropped.fetch_add(bytes - room, std::memory_order_relaxed);
        bytes = room;
    }
    size_t end = (m_backlogStart + m_backlogSize) % kBacklogBytes;
    while (bytes > 0) {
        size_t n = std::min(bytes, kBacklogBytes - end);
        std::memcpy(m_backlog.data() + end, data, n);
        data += n;
        bytes -= n;
        m_backlogSize += n;
        end = (end + n) % kBacklogBytes;
    }
}

size_t CWaveInBufferQueue::FillQueuedLocked(const uint8_t* data, size_t bytes) {
    size_t done = 0;
    while (done < bytes && !m_queue.empty()) {
        WAVEHDR* header = m_queue.front();
        size_t room = header->dwBufferLength - header->dwBytesRecorded;
        size_t n = std::min(room, bytes - done);
        std::memcpy(header->lpData + header->dwBytesRecorded, data + done, n);
        header->dwBytesRecorded += static_cast<DWORD>(n);
        done += n;
        if (header->dwBytesRecorded == header->dwBufferLength)
            ReturnFrontLocked();
    }
    return done;
}

void CWaveInBufferQueue::DrainBacklogLocked() {
    while (m_backlogSize > 0 && !m_queue.empty()) {
        size_t n = std::min(m_backlogSize, kBacklogBytes - m_backlogStart);
        size_t done = FillQueuedLocked(m_backlog.data() + m_backlogStart, n);
        m_backlogStart = (m_backlogStart + done) % kBacklogBytes;
        m_backlogSize -= done;
        if (done < n)
            break;
    }
    if (m_backlogSize == 0)
        m_backlogStart = 0;
}

void CWaveInBufferQueue::ReturnPartial() {
    std::lock_guard<std::mutex> guard(m_lock);
    DrainBacklogLocked();
    if (!m_queue.empty() && m_queue.front()->dwBytesRecorded > 0)
        ReturnFrontLocked();
}

void CWaveInBufferQueue::ReturnAll() {
    std::lock_guard<std::mutex> guard(m_lock);
    DrainBacklogLocked();
    while (!m_queue.empty())
        ReturnFrontLocked();
    // No buffer will be queued for it any more.
    m_dropped.fetch_add(m_backlogSize, std::memory_order_relaxed);
    m_backlogStart = m_backlogSize = 0;
}

size_t CWaveInBufferQueue::QueuedCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_queue.size();
}

size_t CWaveInBufferQueue::BacklogBytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_backlogSize;
}

void CWaveInBufferQueue::ReturnFrontLocked() {
    WAVEHDR* header = m_queue.front();
    m_queue.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (m_callback)
        m_callback->PostThreadMessage(MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(header));
}

void CCaptureTimeline::SetFormat(uint32_t samplesPerSec, uint32_t frameBytes) {
    m_rate = samplesPerSec;
    m_frameBytes = frameBytes;
}

void CCaptureTimeline::Start(Clock::time_point now) {
    m_start = now;
    m_bytes = 0;
}

void CCaptureTimeline::Delivered(size_t bytes) { m_bytes += bytes; }

size_t CCaptureTimeline::SilenceDue(Clock::time_point now) {
    if (now <= m_start)
        return 0;
    auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - m_start).count();
    uint64_t due = static_cast<uint64_t>(elapsed) * m_rate / 1000000 * m_frameBytes;
    // A source ahead of the clock owes nothing until the clock catches up.
    if (due <= m_bytes)
        return 0;
    size_t silence = static_cast<size_t>(due - m_bytes);
    m_bytes = due;
    return silence;
}

MMRESULT CQueuedWaveInDevice::Open(UINT deviceId, const WAVEFORMATEX& format, IThreadMessageQueue* callback) {
    if (IsDeviceOpen())
        return MMSYSERR_ALLOCATED;
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16 || format.nChannels < 1 ||
        format.nChannels > 2 || format.nSamplesPerSec < 8000 || format.nSamplesPerSec > 192000)
        return WAVERR_BADFORMAT;
    m_failed.store(false, std::memory_order_release);
    MMRESULT result = OpenDevice(deviceId, format);
    if (result != MMSYSERR_NOERROR)
        return result;
    // The playback mix is made in 44.1 kHz stereo frames, as the page sounds play.
    bool mix = GetCaptureRoute().mixPlayback && format.nChannels == 2 && format.nSamplesPerSec == 44100;
    m_buffers.SetCapturing(false);
    m_buffers.SetPlaybackTap(mix ? &CPlaybackTap::Instance() : nullptr);
    m_callbackQueue = callback;
    m_buffers.SetCallback(callback);
    if (callback)
        callback->PostThreadMessage(MM_WIM_OPEN, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT CQueuedWaveInDevice::PrepareHeader(WAVEHDR* header) {
    return IsDeviceOpen() ? m_buffers.Prepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT CQueuedWaveInDevice::UnprepareHeader(WAVEHDR* header) {
    return IsDeviceOpen() ? m_buffers.Unprepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT CQueuedWaveInDevice::AddBuffer(WAVEHDR* header) {
    return IsDeviceOpen() ? m_buffers.Add(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT CQueuedWaveInDevice::Start() {
    if (!IsDeviceOpen())
        return MMSYSERR_INVALHANDLE;
    m_buffers.SetCapturing(true);
    if (!RunDevice(true)) {
        m_buffers.SetCapturing(false);
        return MMSYSERR_ERROR;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CQueuedWaveInDevice::Halt(bool returnAll) {
    if (!IsDeviceOpen())
        return MMSYSERR_INVALHANDLE;
    // Whatever the device delivered before the pause took effect is still taken in.
    RunDevice(false);
    m_buffers.SetCapturing(false);
    if (returnAll)
        m_buffers.ReturnAll();
    else
        m_buffers.ReturnPartial();
    return MMSYSERR_NOERROR;
}

MMRESULT CQueuedWaveInDevice::Stop() { return Halt(false); }

MMRESULT CQueuedWaveInDevice::Reset() { return Halt(true); }

MMRESULT CQueuedWaveInDevice::Close() {
    if (!IsDeviceOpen())
        return MMSYSERR_INVALHANDLE;
    if (m_buffers.QueuedCount() > 0)
        return WAVERR_STILLPLAYING;
    IThreadMessageQueue* callback = m_callbackQueue;
    CloseDevice();
    ReleaseQueue();
    if (callback)
        callback->PostThreadMessage(MM_WIM_CLOSE, 0, 0);
    return MMSYSERR_NOERROR;
}

void CQueuedWaveInDevice::ReleaseQueue() {
    m_buffers.SetCapturing(false);
    m_buffers.SetPlaybackTap(nullptr);
    m_buffers.SetCallback(nullptr);
    m_callbackQueue = nullptr;
}
