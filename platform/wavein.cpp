#include "wavein.h"

#include <algorithm>
#include <cstring>

std::unique_ptr<IWaveInDevice> CreateSdlWaveInDevice();

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
    return CreateSdlWaveInDevice();
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
    return MMSYSERR_NOERROR;
}

void CWaveInBufferQueue::SetCapturing(bool capturing) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_capturing = capturing;
}

void CWaveInBufferQueue::Write(const uint8_t* data, size_t bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_capturing)
        return;
    while (bytes > 0) {
        if (m_queue.empty()) {
            m_dropped.fetch_add(bytes, std::memory_order_relaxed);
            return;
        }
        WAVEHDR* header = m_queue.front();
        size_t room = header->dwBufferLength - header->dwBytesRecorded;
        size_t n = std::min(room, bytes);
        std::memcpy(header->lpData + header->dwBytesRecorded, data, n);
        header->dwBytesRecorded += static_cast<DWORD>(n);
        data += n;
        bytes -= n;
        if (header->dwBytesRecorded == header->dwBufferLength)
            ReturnFrontLocked();
    }
}

void CWaveInBufferQueue::ReturnPartial() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_queue.empty() && m_queue.front()->dwBytesRecorded > 0)
        ReturnFrontLocked();
}

void CWaveInBufferQueue::ReturnAll() {
    std::lock_guard<std::mutex> guard(m_lock);
    while (!m_queue.empty())
        ReturnFrontLocked();
}

size_t CWaveInBufferQueue::QueuedCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_queue.size();
}

void CWaveInBufferQueue::ReturnFrontLocked() {
    WAVEHDR* header = m_queue.front();
    m_queue.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (m_callback)
        m_callback->PostThreadMessage(MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(header));
}
