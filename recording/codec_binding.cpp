#include "codec_binding.h"

#include <dlfcn.h>

#include <cstring>
#include <mutex>
#include <string>

#include "paths.h"

namespace {

struct CodecEntryPoints {
    BEINITSTREAM_FN beInitStream = nullptr;
    BEENCODECHUNK_FN beEncodeChunk = nullptr;
    BEDEINITSTREAM_FN beDeinitStream = nullptr;
    BECLOSESTREAM_FN beCloseStream = nullptr;
    BEVERSION_FN beVersion = nullptr;
    BEWRITEVBRHEADER_FN beWriteVBRHeader = nullptr;
    BEWRITEINFOTAG_FN beWriteInfoTag = nullptr;
};

std::mutex g_loadLock;
CodecEntryPoints g_codec;
bool g_loaded = false;

template <typename Fn>
Fn Resolve(void* library, const char* name) {
    return reinterpret_cast<Fn>(dlsym(library, name));
}

}  // namespace

const char* CodecLibraryFileName() { return "libDovOvoru.so"; }

bool LoadCodecLibrary() {
    std::lock_guard<std::mutex> guard(g_loadLock);
    if (g_loaded)
        return true;

    void* library = dlopen(CodecLibraryFileName(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::string folder;
        if (GetExecutableFolder(folder))
            library = dlopen(JoinPath(folder, CodecLibraryFileName()).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!library)
        return false;

    CodecEntryPoints codec;
    codec.beInitStream = Resolve<BEINITSTREAM_FN>(library, "beInitStream");
    codec.beEncodeChunk = Resolve<BEENCODECHUNK_FN>(library, "beEncodeChunk");
    codec.beDeinitStream = Resolve<BEDEINITSTREAM_FN>(library, "beDeinitStream");
    codec.beCloseStream = Resolve<BECLOSESTREAM_FN>(library, "beCloseStream");
    codec.beVersion = Resolve<BEVERSION_FN>(library, "beVersion");
    codec.beWriteVBRHeader = Resolve<BEWRITEVBRHEADER_FN>(library, "beWriteVBRHeader");
    codec.beWriteInfoTag = Resolve<BEWRITEINFOTAG_FN>(library, "beWriteInfoTag");
    if (!codec.beInitStream || !codec.beEncodeChunk || !codec.beDeinitStream || !codec.beCloseStream ||
        !codec.beVersion || !codec.beWriteVBRHeader) {
        dlclose(library);
        return false;
    }
    g_codec = codec;
    g_loaded = true;
    return true;
}

CMP3Encoder::CMP3Encoder() : m_hStream(0), m_dwChunkSize(0), m_dwBufferSize(0) {
    std::memset(&m_config, 0, sizeof(m_config));
}

CMP3Encoder::~CMP3Encoder() { CloseStream(); }

BOOL CMP3Encoder::InitStream(DWORD bitrate, DWORD rate, DWORD resample) {
    // A finished recording's stream would otherwise stay open in the library
    // once its handle is overwritten.
    CloseStream();

    std::memset(&m_config, 0, sizeof(m_config));
    m_hStream = 0;
    m_dwChunkSize = 0;
    m_dwBufferSize = 0;

    m_config.dwConfig = BE_CONFIG_LAME;
    m_config.dwStructVersion = 1;
    m_config.dwStructSize = sizeof(BE_CONFIG);
    m_config.dwSampleRate = rate;
    m_config.dwReSampleRate = resample;
    m_config.nMode = BE_MP3_MODE_JSTEREO;
    m_config.dwBitrate = bitrate;
    m_config.dwMaxBitrate = 0;
    m_config.nPreset = LQP_CBR;
    m_config.dwMpegVersion = bitrate > 32 ? MPEG1 : MPEG2;
    m_config.dwPsyModel = 0;
    m_config.dwEmphasis = 0;
    m_config.bPrivate = 1;
    m_config.bCRC = 0;
    m_config.bCopyright = 1;
    m_config.bOriginal = 1;
    m_config.bWriteVBRHeader = 0;
    m_config.bEnableVBR = 0;
    m_config.nVBRQuality = 0;
    m_config.dwVbrAbr_bps = 0;
    m_config.nVbrMethod = 0;
    m_config.bNoRes = 1;
    m_config.bStrictIso = 0;
    m_config.nQuality = 0;

    if (!g_loaded)
        return 0;
    HBE_STREAM handle = 0;
    if (g_codec.beInitStream(&m_config, &m_dwChunkSize, &m_dwBufferSize, &handle) != BE_ERR_SUCCESSFUL)
        return 0;
    m_hStream = handle;
    return 1;
}

DWORD CMP3Encoder::EncodeChunk(const int16_t* samples, DWORD count, uint8_t* output, DWORD* written) {
    if (!g_loaded)
        return BE_ERR_INVALID_HANDLE;
    return g_codec.beEncodeChunk(m_hStream, count, samples, output, written);
}

void CMP3Encoder::CloseStream() {
    if (m_hStream != 0) {
        if (g_loaded)
            g_codec.beCloseStream(m_hStream);
        m_hStream = 0;
    }
}
