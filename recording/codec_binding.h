// Binding to the MP3 codec library, loaded once per process at start-up.
#pragma once

#include <cstdint>

#include "dov_ovoru.h"
#include "wintypes.h"

// The library's file name, for the start-up message when it cannot be loaded.
const char* CodecLibraryFileName();

// Loads the codec library by plain name, then from the executable's folder, and
// resolves its entry points. True when it is usable; it stays loaded until the
// process ends.
bool LoadCodecLibrary();

// One encoder stream of the codec library.
class CMP3Encoder {
public:
    CMP3Encoder();
    virtual ~CMP3Encoder();
    CMP3Encoder(const CMP3Encoder&) = delete;
    CMP3Encoder& operator=(const CMP3Encoder&) = delete;

    // Opens a stream: bitrate in kbit/s, input rate in Hz, resample rate (0 =
    // derived). A stream still open from an earlier recording is closed first.
    BOOL InitStream(DWORD bitrate, DWORD rate, DWORD resample);
    // Encodes `count` 16-bit samples (both channels, interleaved). `written` holds
    // the output's capacity on entry and the bytes produced on return.
    // 0 on success, else the library's error code.
    DWORD EncodeChunk(const int16_t* samples, DWORD count, uint8_t* output, DWORD* written);
    // Releases the stream if one is open.
    void CloseStream();

    HBE_STREAM GetStream() const { return m_hStream; }
    const BE_CONFIG& GetConfig() const { return m_config; }

private:
    BE_CONFIG m_config;
    HBE_STREAM m_hStream;
    DWORD m_dwChunkSize;   // reported by the library, not used
    DWORD m_dwBufferSize;  // reported by the library, not used
};
