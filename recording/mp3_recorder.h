// Records the learner's voice into an MP3 file while it is spoken: captured
// buffers go through the level analyser and the encoder, and the encoder's bytes
// are appended to the file in capture order.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "codec_binding.h"
#include "fft.h"
#include "message_target.h"
#include "record_wave.h"
#include "wintypes.h"

class CMP3Recorder : public ISyncWave {
public:
    static constexpr int kBufferCount = 20;
    static constexpr int kBufferSize = 4096;
    static constexpr DWORD kBitrate = 32;
    static constexpr DWORD kSampleRate = 44100;
    static constexpr DWORD kResampleRate = 0;
    static constexpr DWORD kOutputSize = 1048576;

    CMP3Recorder();
    ~CMP3Recorder() override;
    CMP3Recorder(const CMP3Recorder&) = delete;
    CMP3Recorder& operator=(const CMP3Recorder&) = delete;

    // Prepares a recording into `path` (created or truncated); capture does not
    // start. True at once when a recording is already open.
    BOOL Open(IMessageTarget* window, const std::string& path);
    // True when capture runs.
    BOOL Start();
    // Stops capture if it runs; the thread and the file stay.
    void Stop();
    // Ends the recording: stops capture, ends the thread, closes the file.
    void Close();
    // True while a capture thread exists and runs.
    BOOL IsCapturing();

    // After Close: true when writing the file failed during the last recording
    // (disk full, I/O error); the file then holds only what was written before.
    BOOL WriteFailed() const { return m_bWriteFailed.load(); }
    // The errno of that failure, 0 when none.
    int WriteError() const { return m_nWriteError.load(); }
    // True when the recording device lost its source for good during the current
    // or last recording (its sound server went away and did not come back): the
    // file then holds only what came before.
    BOOL CaptureFailed() const;
    // Bytes of sound captured in the current or last recording.
    uint64_t CapturedBytes() const { return m_nCapturedBytes.load(); }
    // Bytes the device had to drop in the current or last recording (0 in normal use).
    uint64_t DroppedBytes() const;

    // ISyncWave, on the capture thread.
    void OnWaveStart() override {}
    void OnWaveStop() override {}
    void OnWaveData(const char* data, DWORD bytes) override;

private:
    bool WriteAll(const uint8_t* data, size_t bytes);
    void CloseFile();

    CFft m_fft;
    CRecordWave* m_pWave;
    int m_hFile;  // -1 when closed
    CMP3Encoder m_encoder;
    uint8_t* m_pOutput;
    IMessageTarget* m_pLevelWindow;

    std::atomic<BOOL> m_bWriteFailed{0};
    std::atomic<int> m_nWriteError{0};
    std::atomic<uint64_t> m_nCapturedBytes{0};
    uint64_t m_nDroppedBytes = 0;  // of the last recording, kept after Close
    bool m_bCaptureFailed = false;  // of the last recording, kept after Close
};
