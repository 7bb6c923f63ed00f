// The codec library's entry points, implemented over libmp3lame.

#include "dov_ovoru.h"

#include <lame/lame.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

struct Stream {
    lame_t lame = nullptr;
    int channels = 2;
    BE_DWORD chunkSamples = 0;  // reported to the caller
    BE_DWORD bufferSize = 0;    // reported to the caller
    std::vector<uint8_t> scratch;  // used only when the caller's buffer may be too small
    std::mutex busy;               // one call on a stream at a time

    ~Stream() {
        if (lame)
            lame_close(lame);
    }
};

std::mutex g_lock;
std::unordered_map<HBE_STREAM, std::shared_ptr<Stream>> g_streams;
HBE_STREAM g_nextHandle = 1;
HBE_STREAM g_lastFlushed = 0;

std::shared_ptr<Stream> FindStream(HBE_STREAM handle) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_streams.find(handle);
    return it == g_streams.end() ? nullptr : it->second;
}

void Quiet(const char*, va_list) {}

// Worst case of the encoder's output for `frames` samples per channel.
size_t WorstCaseBytes(size_t frames) { return frames + frames / 4 + 7200; }

bool IsRateOf(unsigned rate, const unsigned (&rates)[3]) {
    for (unsigned r : rates)
        if (r == rate)
            return true;
    return false;
}

// The output rate when the record leaves it open: the input rate for MPEG-1,
// half of it for MPEG-2 when that is a rate MPEG-2 has. 0 lets the encoder choose.
int DerivedOutputRate(unsigned inRate, unsigned mpegVersion) {
    static const unsigned mpeg1[3] = {32000, 44100, 48000};
    static const unsigned mpeg2[3] = {16000, 22050, 24000};
    if (mpegVersion == MPEG1)
        return IsRateOf(inRate, mpeg1) ? static_cast<int>(inRate) : 0;
    if (IsRateOf(inRate / 2, mpeg2) && inRate % 2 == 0)
        return static_cast<int>(inRate / 2);
    if (IsRateOf(inRate, mpeg2))
        return static_cast<int>(inRate);
    return 0;
}

bool Configure(lame_t lame, const BE_CONFIG& cfg, int channels) {
    lame_set_errorf(lame, Quiet);
    lame_set_debugf(lame, Quiet);
    lame_set_msgf(lame, Quiet);

    lame_set_in_samplerate(lame, static_cast<int>(cfg.dwSampleRate));
    lame_set_num_channels(lame, channels);
    switch (cfg.nMode) {
    case BE_MP3_MODE_MONO: lame_set_mode(lame, MONO); break;
    case BE_MP3_MODE_JSTEREO: lame_set_mode(lame, JOINT_STEREO); break;
    default: lame_set_mode(lame, STEREO); break;  // dual channel is encoded as stereo
    }
    int outRate = cfg.dwReSampleRate ? static_cast<int>(cfg.dwReSampleRate)
                                     : DerivedOutputRate(cfg.dwSampleRate, cfg.dwMpegVersion);
    lame_set_out_samplerate(lame, outRate);

    if (cfg.bEnableVBR || cfg.nPreset == LQP_ABR) {
        if (cfg.nVbrMethod == VBR_METHOD_ABR || cfg.nPreset == LQP_ABR) {
            lame_set_VBR(lame, vbr_abr);
            lame_set_VBR_mean_bitrate_kbps(lame, static_cast<int>(cfg.dwVbrAbr_bps / 1000));
        } else {
            lame_set_VBR(lame, cfg.nVbrMethod == VBR_METHOD_OLD ? vbr_rh : vbr_default);
            lame_set_VBR_q(lame, cfg.nVBRQuality <= 9 ? static_cast<int>(cfg.nVBRQuality) : 4);
        }
        if (cfg.dwBitrate)
            lame_set_VBR_min_bitrate_kbps(lame, static_cast<int>(cfg.dwBitrate));
        if (cfg.dwMaxBitrate)
            lame_set_VBR_max_bitrate_kbps(lame, static_cast<int>(cfg.dwMaxBitrate));
    } else {
        lame_set_VBR(lame, vbr_off);
        lame_set_brate(lame, static_cast<int>(cfg.dwBitrate));
    }

    lame_set_emphasis(lame, static_cast<int>(cfg.dwEmphasis));
    lame_set_extension(lame, cfg.bPrivate ? 1 : 0);
    lame_set_error_protection(lame, cfg.bCRC ? 1 : 0);
    lame_set_copyright(lame, cfg.bCopyright ? 1 : 0);
    lame_set_original(lame, cfg.bOriginal ? 1 : 0);
    lame_set_bWriteVbrTag(lame, cfg.bWriteVBRHeader ? 1 : 0);
    lame_set_disable_reservoir(lame, cfg.bNoRes ? 1 : 0);
    lame_set_strict_ISO(lame, cfg.bStrictIso ? 1 : 0);

    unsigned quality = cfg.nQuality & 0xFFu;
    unsigned check = (cfg.nQuality >> 8) & 0xFFu;
    if (check == (~quality & 0xFFu) && quality <= 9)
        lame_set_quality(lame, static_cast<int>(quality));

    return lame_init_params(lame) >= 0;
}

// Runs an encoder call that writes at most `need` bytes, into the caller's buffer
// when it is large enough, else through the scratch buffer.
template <typename Encode>
BE_ERR EncodeInto(Stream& s, size_t need, uint8_t* out, BE_DWORD* pdwOutput, Encode encode) {
    size_t capacity = *pdwOutput ? *pdwOutput : s.bufferSize;
    int produced;
    if (capacity >= need) {
        produced = encode(out, static_cast<int>(need));
    } else {
        if (s.scratch.size() < need)
            s.scratch.resize(need);
        produced = encode(s.scratch.data(), static_cast<int>(need));
        if (produced > 0 && static_cast<size_t>(produced) > capacity) {
            *pdwOutput = 0;
            return BE_ERR_BUFFER_TOO_SMALL;
        }
        if (produced > 0)
            std::memcpy(out, s.scratch.data(), static_cast<size_t>(produced));
    }
    if (produced < 0) {
        *pdwOutput = 0;
        return produced == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    *pdwOutput = static_cast<BE_DWORD>(produced);
    return BE_ERR_SUCCESSFUL;
}

}  // namespace

extern "C" {

DOVOVORU_API BE_ERR beInitStream(BE_CONFIG* cfg, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                                 HBE_STREAM* phbeStream) {
    if (!cfg || !dwSamples || !dwBufferSize || !phbeStream)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (cfg->dwConfig != BE_CONFIG_LAME)
        return BE_ERR_INVALID_FORMAT;
    if (cfg->dwStructVersion < 1 || cfg->dwStructSize < BE_CONFIG_RECORD_SIZE)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (cfg->dwSampleRate == 0 || cfg->dwSampleRate > 192000 || cfg->nMode > BE_MP3_MODE_MONO)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    auto stream = std::make_shared<Stream>();
    stream->channels = cfg->nMode == BE_MP3_MODE_MONO ? 1 : 2;
    stream->lame = lame_init();
    if (!stream->lame)
        return BE_ERR_NO_MORE_HANDLES;
    if (!Configure(stream->lame, *cfg, stream->channels))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    size_t frame = static_cast<size_t>(lame_get_framesize(stream->lame));
    if (frame == 0)
        frame = 1152;
    // The frame size counts samples of the output rate; ask for enough input to
    // fill a whole frame after resampling.
    int outRate = lame_get_out_samplerate(stream->lame);
    size_t inFrames = outRate > 0 ? frame * cfg->dwSampleRate / static_cast<size_t>(outRate) : frame;
    stream->chunkSamples = static_cast<BE_DWORD>(inFrames * static_cast<size_t>(stream->channels));
    stream->bufferSize = static_cast<BE_DWORD>(WorstCaseBytes(inFrames));

    HBE_STREAM handle;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_streams.size() >= 0xFFFF0000u)
            return BE_ERR_NO_MORE_HANDLES;
        do {
            handle = g_nextHandle++;
            if (g_nextHandle == 0)
                g_nextHandle = 1;
        } while (handle == 0 || g_streams.count(handle));
        g_streams[handle] = stream;
    }
    *dwSamples = stream->chunkSamples;
    *dwBufferSize = stream->bufferSize;
    *phbeStream = handle;
    return BE_ERR_SUCCESSFUL;
}

DOVOVORU_API BE_ERR beEncodeChunk(HBE_STREAM hbeStream, BE_DWORD nSamples, const int16_t* pSamples,
                                  uint8_t* pOutput, BE_DWORD* pdwOutput) {
    std::shared_ptr<Stream> s = FindStream(hbeStream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!pdwOutput)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (nSamples == 0) {
        *pdwOutput = 0;
        return BE_ERR_SUCCESSFUL;
    }
    if (!pSamples || !pOutput || nSamples % static_cast<BE_DWORD>(s->channels) != 0 || nSamples > 0x10000000u) {
        *pdwOutput = 0;
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    std::lock_guard<std::mutex> busy(s->busy);
    int frames = static_cast<int>(nSamples / static_cast<BE_DWORD>(s->channels));
    size_t need = WorstCaseBytes(static_cast<size_t>(frames));
    lame_t lame = s->lame;
    int channels = s->channels;
    return EncodeInto(*s, need, pOutput, pdwOutput, [&](uint8_t* out, int size) {
        if (channels == 2)
            return lame_encode_buffer_interleaved(lame, const_cast<short*>(pSamples), frames, out, size);
        return lame_encode_buffer(lame, pSamples, nullptr, frames, out, size);
    });
}

DOVOVORU_API BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, BE_DWORD* pdwOutput) {
    std::shared_ptr<Stream> s = FindStream(hbeStream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!pOutput || !pdwOutput)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    std::lock_guard<std::mutex> busy(s->busy);
    lame_t lame = s->lame;
    BE_ERR err = EncodeInto(*s, 7200 + 2 * 1152, pOutput, pdwOutput,
                            [&](uint8_t* out, int size) { return lame_encode_flush(lame, out, size); });
    if (err == BE_ERR_SUCCESSFUL) {
        std::lock_guard<std::mutex> guard(g_lock);
        g_lastFlushed = hbeStream;
    }
    return err;
}

DOVOVORU_API BE_ERR beCloseStream(HBE_STREAM hbeStream) {
    std::shared_ptr<Stream> s;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto it = g_streams.find(hbeStream);
        if (it == g_streams.end())
            return BE_ERR_INVALID_HANDLE;
        s = std::move(it->second);
        g_streams.erase(it);
        if (g_lastFlushed == hbeStream)
            g_lastFlushed = 0;
    }
    // A call still running on another thread keeps the stream alive until it returns.
    return BE_ERR_SUCCESSFUL;
}

DOVOVORU_API void beVersion(BE_VERSION* v) {
    if (!v)
        return;
    std::memset(v, 0, sizeof(*v));
    v->byDLLMajorVersion = 1;
    v->byDLLMinorVersion = 0;
    lame_version_t lv;
    get_lame_version_numerical(&lv);
    v->byMajorVersion = static_cast<uint8_t>(lv.major);
    v->byMinorVersion = static_cast<uint8_t>(lv.minor);
    v->byAlphaLevel = static_cast<uint8_t>(lv.alpha);
    v->byBetaLevel = static_cast<uint8_t>(lv.beta);

    // Build date from the compiler's "Mmm dd yyyy".
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* date = __DATE__;
    for (int m = 0; m < 12; ++m)
        if (std::strncmp(date, months + 3 * m, 3) == 0)
            v->byMonth = static_cast<uint8_t>(m + 1);
    v->byDay = static_cast<uint8_t>(std::atoi(date + 4));
    v->wYear = static_cast<uint16_t>(std::atoi(date + 7));
}

DOVOVORU_API BE_ERR beWriteInfoTag(HBE_STREAM hbeStream, const char* lpszFileName) {
    std::shared_ptr<Stream> s = FindStream(hbeStream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!lpszFileName)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    std::lock_guard<std::mutex> busy(s->busy);
    if (!lame_get_bWriteVbrTag(s->lame))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    unsigned char frame[2880];
    size_t size = lame_get_lametag_frame(s->lame, frame, sizeof(frame));
    if (size == 0 || size > sizeof(frame))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    FILE* f = std::fopen(lpszFileName, "r+b");
    if (!f)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    bool ok = std::fwrite(frame, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    return ok ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT_PARAMETERS;
}

DOVOVORU_API BE_ERR beWriteVBRHeader(const char* lpszFileName) {
    HBE_STREAM handle;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        handle = g_lastFlushed;
    }
    if (handle == 0)
        return BE_ERR_INVALID_HANDLE;
    return beWriteInfoTag(handle, lpszFileName);
}

}  // extern "C"
