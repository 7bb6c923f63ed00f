// Public interface of the MP3 codec library libDovOvoru.so.
//
// The entry points follow the classic encoder-library conventions: a caller fills
// a packed configuration record, opens a stream with beInitStream, feeds 16-bit
// PCM with beEncodeChunk and closes the stream with beCloseStream. Every
// DWORD-sized value and the stream handle are 32-bit unsigned on every platform,
// so the record and the calls have one layout wherever the caller was built.
//
// Callers usually load the library at run time (dlopen) and resolve the names
// below; the *_FN typedefs are the matching pointer types.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(DOVOVORU_BUILD)
#define DOVOVORU_API __attribute__((visibility("default")))
#else
#define DOVOVORU_API
#endif

typedef uint32_t BE_DWORD;
typedef uint32_t BE_ERR;
typedef uint32_t HBE_STREAM;  // 0 = no stream

// Results of every entry point.
#define BE_ERR_SUCCESSFUL 0x00000000u
#define BE_ERR_INVALID_FORMAT 0x00000001u
#define BE_ERR_INVALID_FORMAT_PARAMETERS 0x00000002u
#define BE_ERR_NO_MORE_HANDLES 0x00000003u
#define BE_ERR_INVALID_HANDLE 0x00000004u
#define BE_ERR_BUFFER_TOO_SMALL 0x00000005u

// Record kinds (dwConfig). Only the extended kind is understood.
#define BE_CONFIG_MP3 0u
#define BE_CONFIG_LAME 256u

// Channel modes (nMode).
#define BE_MP3_MODE_STEREO 0u
#define BE_MP3_MODE_JSTEREO 1u
#define BE_MP3_MODE_DUALCHANNEL 2u
#define BE_MP3_MODE_MONO 3u

// MPEG versions (dwMpegVersion).
#define MPEG2 0u
#define MPEG1 1u

// Presets (nPreset). Values other than these fall back to plain settings.
#define LQP_NOPRESET 0xFFFFFFFFu
#define LQP_NORMAL_QUALITY 0u
#define LQP_LOW_QUALITY 1u
#define LQP_HIGH_QUALITY 2u
#define LQP_VOICE_QUALITY 3u
#define LQP_ABR 11u
#define LQP_CBR 12u

// VBR methods (nVbrMethod).
#define VBR_METHOD_NONE 0xFFFFFFFFu
#define VBR_METHOD_DEFAULT 0u
#define VBR_METHOD_OLD 1u
#define VBR_METHOD_NEW 2u
#define VBR_METHOD_MTRH 3u
#define VBR_METHOD_ABR 4u

#define BE_CONFIG_RECORD_VERSION 1u
#define BE_CONFIG_RECORD_SIZE 331u

#pragma pack(push, 1)
// The 331-byte configuration record; all fields little-endian.
typedef struct BE_CONFIG {
    BE_DWORD dwConfig;         //  0: BE_CONFIG_LAME
    BE_DWORD dwStructVersion;  //  4: 1
    BE_DWORD dwStructSize;     //  8: 331
    BE_DWORD dwSampleRate;     // 12: input rate in Hz
    BE_DWORD dwReSampleRate;   // 16: output rate in Hz, 0 = derived (see below)
    BE_DWORD nMode;            // 20: BE_MP3_MODE_*
    BE_DWORD dwBitrate;        // 24: kbit/s (CBR) or minimum (VBR)
    BE_DWORD dwMaxBitrate;     // 28: kbit/s, VBR only
    BE_DWORD nPreset;          // 32: LQP_*
    BE_DWORD dwMpegVersion;    // 36: MPEG1 or MPEG2
    BE_DWORD dwPsyModel;       // 40: ignored
    BE_DWORD dwEmphasis;       // 44: 0 none, 1 50/15 ms, 3 CCITT
    BE_DWORD bPrivate;         // 48
    BE_DWORD bCRC;             // 52
    BE_DWORD bCopyright;       // 56
    BE_DWORD bOriginal;        // 60
    BE_DWORD bWriteVBRHeader;  // 64: reserve a header frame for beWriteInfoTag
    BE_DWORD bEnableVBR;       // 68
    BE_DWORD nVBRQuality;      // 72: 0 (best) .. 9
    BE_DWORD dwVbrAbr_bps;     // 76: ABR target in bit/s
    BE_DWORD nVbrMethod;       // 80: VBR_METHOD_*
    BE_DWORD bNoRes;           // 84: no bit reservoir
    BE_DWORD bStrictIso;       // 88
    uint16_t nQuality;         // 92: low byte 0..9 with its complement in the high byte; else default
    uint8_t btReserved[237];   // 94..330: zero
} BE_CONFIG;

// Filled by beVersion.
typedef struct BE_VERSION {
    uint8_t byDLLMajorVersion;
    uint8_t byDLLMinorVersion;
    uint8_t byMajorVersion;  // encoder engine
    uint8_t byMinorVersion;
    uint8_t byDay;           // build date
    uint8_t byMonth;
    uint16_t wYear;
    char zHomepage[129];     // empty
    uint8_t byAlphaLevel;
    uint8_t byBetaLevel;
    uint8_t byMMXEnabled;
    uint8_t btReserved[125];
} BE_VERSION;
#pragma pack(pop)

// When dwReSampleRate is 0 the output rate is the input rate for MPEG1, and half
// of it (a rate MPEG-2 allows) for MPEG2.

// Opens a stream. *dwSamples receives the preferred number of 16-bit samples per
// beEncodeChunk call (both channels counted), *dwBufferSize the output size that
// such a call needs at most, *phbeStream the new handle.
DOVOVORU_API BE_ERR beInitStream(BE_CONFIG* pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                                 HBE_STREAM* phbeStream);

// Encodes nSamples 16-bit samples (interleaved left, right for two channels).
// *pdwOutput: on entry the capacity of pOutput when non-zero (else the size
// reported by beInitStream is assumed); on return the bytes written.
DOVOVORU_API BE_ERR beEncodeChunk(HBE_STREAM hbeStream, BE_DWORD nSamples, const int16_t* pSamples,
                                  uint8_t* pOutput, BE_DWORD* pdwOutput);

// Flushes the last frames into pOutput; *pdwOutput as for beEncodeChunk.
DOVOVORU_API BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, BE_DWORD* pdwOutput);

// Releases the stream; the handle is invalid afterwards.
DOVOVORU_API BE_ERR beCloseStream(HBE_STREAM hbeStream);

DOVOVORU_API void beVersion(BE_VERSION* pbeVersion);

// Writes the information tag of the stream most recently flushed with
// beDeinitStream (and not yet closed) over the first frame of the file.
DOVOVORU_API BE_ERR beWriteVBRHeader(const char* lpszFileName);

// Writes the stream's information tag over the first frame of the file. Only
// streams opened with bWriteVBRHeader reserve that frame.
DOVOVORU_API BE_ERR beWriteInfoTag(HBE_STREAM hbeStream, const char* lpszFileName);

typedef BE_ERR (*BEINITSTREAM_FN)(BE_CONFIG*, BE_DWORD*, BE_DWORD*, HBE_STREAM*);
typedef BE_ERR (*BEENCODECHUNK_FN)(HBE_STREAM, BE_DWORD, const int16_t*, uint8_t*, BE_DWORD*);
typedef BE_ERR (*BEDEINITSTREAM_FN)(HBE_STREAM, uint8_t*, BE_DWORD*);
typedef BE_ERR (*BECLOSESTREAM_FN)(HBE_STREAM);
typedef void (*BEVERSION_FN)(BE_VERSION*);
typedef BE_ERR (*BEWRITEVBRHEADER_FN)(const char*);
typedef BE_ERR (*BEWRITEINFOTAG_FN)(HBE_STREAM, const char*);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(BE_CONFIG) == BE_CONFIG_RECORD_SIZE, "configuration record must be 331 bytes");
static_assert(offsetof(BE_CONFIG, dwMpegVersion) == 36, "record layout");
static_assert(offsetof(BE_CONFIG, nQuality) == 92, "record layout");
static_assert(offsetof(BE_CONFIG, btReserved) == 94, "record layout");
#endif
