#include "mp3_recorder.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <unistd.h>

CMP3Recorder::CMP3Recorder()
    : m_pWave(nullptr), m_hFile(-1), m_pOutput(new (std::nothrow) uint8_t[kOutputSize]), m_pLevelWindow(nullptr) {}

CMP3Recorder::~CMP3Recorder() {
    // Ends the thread before the members it uses go away.
    Close();
    delete[] m_pOutput;
    m_pOutput = nullptr;
}

BOOL CMP3Recorder::Open(IMessageTarget* window, const std::string& path) {
    if (m_pWave)
        return 1;
    m_pLevelWindow = window;

    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    m_hFile = fd;
    m_bWriteFailed = 0;
    m_nWriteError = 0;
    m_nCapturedBytes = 0;
    m_nDroppedBytes = 0;
    m_bCaptureFailed = false;

    m_pWave = CRecordWave::CreateCaptureThread(this, kBufferCount, kBufferSize);
    if (m_pWave && m_pOutput && m_encoder.InitStream(kBitrate, kSampleRate, kResampleRate))
        return 1;

    CloseFile();
    if (m_pWave) {
        delete m_pWave;
        m_pWave = nullptr;
    }
    return 0;
}

BOOL CMP3Recorder::Start() {
    if (!m_pWave || m_pWave->IsRunning())
        return 1;
    m_fft.SetTarget(m_pLevelWindow);
    return m_pWave->StartCapture();
}

void CMP3Recorder::Stop() {
    if (m_pWave && m_pWave->IsRunning())
        m_pWave->StopCapture();
}

void CMP3Recorder::Close() {
    if (!m_pWave)
        return;
    Stop();
    m_pWave->Quit();
    m_nDroppedBytes = m_pWave->GetDroppedBytes();
    m_bCaptureFailed = m_pWave->GetCaptureFailed();
    delete m_pWave;
    m_pWave = nullptr;
    CloseFile();
    // The stream is finished; release it now rather than at the next recording.
    m_encoder.CloseStream();
}

BOOL CMP3Recorder::IsCapturing() { return m_pWave && m_pWave->IsRunning() ? 1 : 0; }

BOOL CMP3Recorder::CaptureFailed() const {
    return (m_pWave ? m_pWave->GetCaptureFailed() : m_bCaptureFailed) ? 1 : 0;
}

uint64_t CMP3Recorder::DroppedBytes() const { return m_pWave ? m_pWave->GetDroppedBytes() : m_nDroppedBytes; }

void CMP3Recorder::OnWaveData(const char* data, DWORD bytes) {
    if (bytes == 0)
        return;
    m_nCapturedBytes += bytes;
    m_fft.Analyse(reinterpret_cast<const int16_t*>(data), bytes);

    // After a write failure the file is left as it is; the level meter goes on.
    if (m_bWriteFailed)
        return;
    DWORD written = kOutputSize;
    if (m_encoder.EncodeChunk(reinterpret_cast<const int16_t*>(data), bytes / 2, m_pOutput, &written) == 0 &&
        written > 0)
        WriteAll(m_pOutput, written);
}

bool CMP3Recorder::WriteAll(const uint8_t* data, size_t bytes) {
    if (m_hFile < 0)
        return false;
    while (bytes > 0) {
        ssize_t n = ::write(m_hFile, data, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_nWriteError = n < 0 ? errno : EIO;
            m_bWriteFailed = 1;
            return false;
        }
        data += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

void CMP3Recorder::CloseFile() {
    if (m_hFile < 0)
        return;
    // Some file systems report a failed write only when the file is closed.
    if (::close(m_hFile) != 0 && errno != EINTR && !m_bWriteFailed) {
        m_nWriteError = errno;
        m_bWriteFailed = 1;
    }
    m_hFile = -1;
}
