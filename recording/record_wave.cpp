#include "record_wave.h"

#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

namespace {

void SleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

constexpr WPARAM kCommandStart = 1;
constexpr WPARAM kCommandStop = 2;

}  // namespace

CRecordWave::CRecordWave()
    : m_hWaveIn(nullptr),
      m_nBufferCount(0),
      m_nBufferSize(0),
      m_bRunning(0),
      m_pBuffers(nullptr),
      m_pSink(nullptr),
      m_device(CreateWaveInDevice()) {
    m_wfx.wFormatTag = WAVE_FORMAT_PCM;
    m_wfx.nChannels = 2;
    m_wfx.nSamplesPerSec = 44100;
    m_wfx.wBitsPerSample = 16;
    m_wfx.nBlockAlign = 4;
    m_wfx.nAvgBytesPerSec = 176400;
    m_wfx.cbSize = 0;
}

CRecordWave* CRecordWave::CreateCaptureThread(ISyncWave* sink, int count, int size) {
    CRecordWave* wave = new (std::nothrow) CRecordWave();
    if (!wave)
        return nullptr;
    wave->m_nBufferCount = count;
    wave->m_nBufferSize = size;
    // The sink is in place before the thread can see any command.
    wave->m_pSink = sink;
    try {
        wave->m_thread = std::thread(&CRecordWave::Run, wave);
    } catch (const std::system_error&) {
        delete wave;
        return nullptr;
    }
    return wave;
}

CRecordWave::~CRecordWave() {
    Quit();
    m_queue.Close();
}

uint64_t CRecordWave::GetDroppedBytes() const { return m_device ? m_device->DroppedBytes() : 0; }

bool CRecordWave::GetCaptureFailed() const { return m_device && m_device->Failed(); }

bool CRecordWave::PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return m_queue.PostThreadMessage(msg, wParam, lParam);
}

BOOL CRecordWave::StartCapture() {
    if (IsRunning())
        return 1;
    // A failed earlier start leaves the event set; this wait must see its own command.
    m_evStarted.Reset();
    if (!PostThreadMessage(WM_CAPTURE_COMMAND, kCommandStart, 0))
        return 0;
    do {
        SleepMs(100);
    } while (!m_evStarted.Test());
    return IsRunning();
}

BOOL CRecordWave::StopCapture() {
    if (!IsRunning())
        return 1;
    m_evStopped.Reset();
    if (!PostThreadMessage(WM_CAPTURE_COMMAND, kCommandStop, 0))
        return 0;
    do {
        SleepMs(100);
    } while (!m_evStopped.Test());
    return IsRunning() ? 0 : 1;
}

void CRecordWave::Quit() {
    if (!m_thread.joinable())
        return;
    if (IsRunning())
        PostThreadMessage(WM_CAPTURE_COMMAND, kCommandStop, 0);
    PostThreadMessage(WM_QUIT, 0, 0);
    if (m_thread.get_id() == std::this_thread::get_id()) {
        // Called from a sink on the capture thread: the loop ends after this message.
        m_thread.detach();
        return;
    }
    m_thread.join();
}

void CRecordWave::Run() {
    if (InitInstance()) {
        ThreadMessage msg;
        while (m_queue.GetMessage(msg)) {
            switch (msg.message) {
            case WM_CAPTURE_COMMAND: OnCaptureCommand(msg.wParam, msg.lParam); break;
            case MM_WIM_DATA: OnWimData(msg.wParam, msg.lParam); break;
            default: break;  // open and close notifications, anything else
            }
        }
        // A stop handled just before the quit hands its buffers back behind the
        // quit message; their sound still goes to the sink.
        while (m_queue.PeekMessage(msg))
            if (msg.message == MM_WIM_DATA)
                OnWimData(msg.wParam, msg.lParam);
    }
    ExitInstance();
    // Later posts fail instead of piling up.
    m_queue.Close();
}

BOOL CRecordWave::InitInstance() {
    // When memory runs out the thread still runs; a start then fails cleanly.
    if (m_nBufferCount <= 0 || m_nBufferSize <= 0)
        return 1;
    WAVEHDR** buffers = new (std::nothrow) WAVEHDR*[static_cast<size_t>(m_nBufferCount)]();
    if (!buffers)
        return 1;
    for (int i = 0; i < m_nBufferCount; ++i) {
        WAVEHDR* header = new (std::nothrow) WAVEHDR;
        char* data = new (std::nothrow) char[static_cast<size_t>(m_nBufferSize)];
        if (!header || !data) {
            delete header;
            delete[] data;
            for (int j = 0; j < i; ++j) {
                delete[] buffers[j]->lpData;
                delete buffers[j];
            }
            delete[] buffers;
            return 1;
        }
        std::memset(header, 0, sizeof(*header));
        header->lpData = data;
        header->dwBufferLength = static_cast<DWORD>(m_nBufferSize);
        buffers[i] = header;
    }
    m_pBuffers = buffers;
    return 1;
}

int CRecordWave::ExitInstance() {
    if (m_hWaveIn) {
        // A stop failed and the device still holds buffers: take them back before
        // freeing them. If the device will not give them up, they are left alone.
        bool released = m_hWaveIn->Reset() == MMSYSERR_NOERROR;
        if (released) {
            m_hWaveIn->Close();
            m_hWaveIn = nullptr;
        } else {
            m_pBuffers = nullptr;
        }
    }
    if (m_pBuffers) {
        for (int i = 0; i < m_nBufferCount; ++i) {
            delete[] m_pBuffers[i]->lpData;
            delete m_pBuffers[i];
        }
        delete[] m_pBuffers;
        m_pBuffers = nullptr;
    }
    return 0;
}

void CRecordWave::OnCaptureCommand(WPARAM wParam, LPARAM) {
    if (wParam == kCommandStart)
        HandleStart();
    else if (wParam == kCommandStop)
        HandleStop();
}

void CRecordWave::HandleStart() {
    if (IsRunning())
        return;
    bool ok = false;
    if (m_pBuffers && m_device && m_device->Open(WAVE_MAPPER, m_wfx, &m_queue) == MMSYSERR_NOERROR) {
        m_hWaveIn = m_device.get();
        int queued = 0;
        for (; queued < m_nBufferCount; ++queued) {
            if (m_hWaveIn->PrepareHeader(m_pBuffers[queued]) != MMSYSERR_NOERROR)
                break;
            if (m_hWaveIn->AddBuffer(m_pBuffers[queued]) != MMSYSERR_NOERROR) {
                m_hWaveIn->UnprepareHeader(m_pBuffers[queued]);
                break;
            }
        }
        if (queued == m_nBufferCount && m_hWaveIn->Start() == MMSYSERR_NOERROR) {
            m_bRunning.store(1, std::memory_order_release);
            ok = true;
        } else {
            AbandonFailedStart(queued);
        }
    }
    m_evStarted.Set();
    m_evStopped.Reset();
    if (ok && m_pSink)
        m_pSink->OnWaveStart();
}

// Gives the device up after a start that failed half-way, so that the buffers are
// idle again and a later start can open the device afresh.
void CRecordWave::AbandonFailedStart(int queued) {
    m_hWaveIn->Reset();
    // The buffers handed back by the reset carry nothing the sink should see.
    m_queue.RemoveMessages([](const ThreadMessage& msg) { return msg.message == MM_WIM_DATA; });
    for (int i = 0; i < queued && i < m_nBufferCount; ++i) {
        m_hWaveIn->UnprepareHeader(m_pBuffers[i]);
        WAVEHDR* header = m_pBuffers[i];
        char* data = header->lpData;
        DWORD length = header->dwBufferLength;
        std::memset(header, 0, sizeof(*header));
        header->lpData = data;
        header->dwBufferLength = length;
    }
    if (m_hWaveIn->Close() == MMSYSERR_NOERROR) {
        m_hWaveIn = nullptr;
    } else {
        // Still open; the thread's end tries again before the buffers are freed.
    }
}

void CRecordWave::HandleStop() {
    if (!IsRunning())
        return;
    if (m_hWaveIn && m_hWaveIn->Stop() == MMSYSERR_NOERROR) {
        if (m_hWaveIn->Reset() == MMSYSERR_NOERROR) {
            SleepMs(m_nStopSettleMs);
            if (m_hWaveIn->Close() == MMSYSERR_NOERROR) {
                m_hWaveIn = nullptr;
                m_bRunning.store(0, std::memory_order_release);
            }
        }
    }
    m_evStarted.Reset();
    m_evStopped.Set();
    if (m_pSink)
        m_pSink->OnWaveStop();
}

void CRecordWave::OnWimData(WPARAM, LPARAM lParam) {
    WAVEHDR* header = reinterpret_cast<WAVEHDR*>(lParam);
    if (!header)
        return;
    // After the device was closed this fails, harmlessly.
    m_device->UnprepareHeader(header);
    if (m_pSink)
        m_pSink->OnWaveData(header->lpData, header->dwBytesRecorded);
    char* data = header->lpData;
    DWORD length = header->dwBufferLength;
    std::memset(header, 0, sizeof(*header));
    header->lpData = data;
    header->dwBufferLength = length;
    if (IsRunning() && m_hWaveIn) {
        m_hWaveIn->PrepareHeader(header);
        m_hWaveIn->AddBuffer(header);
    }
}
