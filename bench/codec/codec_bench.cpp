// Encoding speed of the codec library through its C entry points, beside bare
// libmp3lame with the same settings, on the same sound in the same run: one
// capture buffer (4096 bytes, 44100 Hz stereo) per call at 32 kbit/s.
//
// usage: codec_bench [seconds of sound, default 60] [rounds, default 5]

#include <dlfcn.h>
#include <lame/lame.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_sound.h"
#include "dov_ovoru.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kSamplesPerCall = 2048;  // 4096 bytes

double EncodeWithLibrary(BEINITSTREAM_FN init, BEENCODECHUNK_FN encode, BECLOSESTREAM_FN close,
                         const std::vector<int16_t>& pcm, std::vector<uint8_t>& out, size_t& bytes) {
    BE_CONFIG cfg;
    std::memset(&cfg, 0, sizeof(cfg));
    cfg.dwConfig = BE_CONFIG_LAME;
    cfg.dwStructVersion = 1;
    cfg.dwStructSize = sizeof(cfg);
    cfg.dwSampleRate = 44100;
    cfg.nMode = BE_MP3_MODE_JSTEREO;
    cfg.dwBitrate = 32;
    cfg.nPreset = LQP_CBR;
    cfg.dwMpegVersion = MPEG2;
    cfg.bPrivate = cfg.bCopyright = cfg.bOriginal = 1;
    cfg.bNoRes = 1;
    BE_DWORD chunk, size;
    HBE_STREAM stream;
    if (init(&cfg, &chunk, &size, &stream) != BE_ERR_SUCCESSFUL)
        std::exit(1);
    bytes = 0;
    auto t0 = Clock::now();
    for (size_t pos = 0; pos + kSamplesPerCall <= pcm.size(); pos += kSamplesPerCall) {
        BE_DWORD written = static_cast<BE_DWORD>(out.size());
        encode(stream, kSamplesPerCall, pcm.data() + pos, out.data(), &written);
        bytes += written;
    }
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    close(stream);
    return s;
}

double EncodeWithLame(const std::vector<int16_t>& pcm, std::vector<uint8_t>& out, size_t& bytes) {
    lame_t lame = benchsound::NewAnchorLame();
    if (!lame)
        std::exit(1);
    bytes = 0;
    auto t0 = Clock::now();
    for (size_t pos = 0; pos + kSamplesPerCall <= pcm.size(); pos += kSamplesPerCall) {
        int n = lame_encode_buffer_interleaved(lame, const_cast<short*>(pcm.data() + pos), kSamplesPerCall / 2,
                                               out.data(), static_cast<int>(out.size()));
        bytes += n > 0 ? static_cast<size_t>(n) : 0;
    }
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    lame_close(lame);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    void* lib = dlopen("libDovOvoru.so", RTLD_NOW);
    if (!lib) {
        std::fprintf(stderr, "codec_bench: %s\n", dlerror());
        return 1;
    }
    auto init = reinterpret_cast<BEINITSTREAM_FN>(dlsym(lib, "beInitStream"));
    auto encode = reinterpret_cast<BEENCODECHUNK_FN>(dlsym(lib, "beEncodeChunk"));
    auto close = reinterpret_cast<BECLOSESTREAM_FN>(dlsym(lib, "beCloseStream"));

    std::vector<int16_t> pcm = benchsound::Speech(seconds);
    std::printf("sound: %.0f s of %s, %d rounds, best of each kept\n", seconds, benchsound::SpeechSource(), rounds);
    std::vector<uint8_t> out(1048576);
    double bestLib = 1e9, bestLame = 1e9;
    size_t libBytes = 0, lameBytes = 0;
    for (int r = 0; r < rounds; ++r) {
        // Alternate the order so neither side always runs on a warm cache.
        if (r % 2 == 0) {
            bestLib = std::min(bestLib, EncodeWithLibrary(init, encode, close, pcm, out, libBytes));
            bestLame = std::min(bestLame, EncodeWithLame(pcm, out, lameBytes));
        } else {
            bestLame = std::min(bestLame, EncodeWithLame(pcm, out, lameBytes));
            bestLib = std::min(bestLib, EncodeWithLibrary(init, encode, close, pcm, out, libBytes));
        }
    }
    double audio = double(pcm.size()) / 2 / 44100;
    std::printf("libDovOvoru  : %7.1f x real time (%.3f s, %zu bytes)\n", audio / bestLib, bestLib, libBytes);
    std::printf("bare lame    : %7.1f x real time (%.3f s, %zu bytes)\n", audio / bestLame, bestLame, lameBytes);
    double ratio = bestLib / bestLame;
    std::printf("library / bare lame time: %.3f (target at most 1.05) %s\n", ratio, ratio <= 1.05 ? "OK" : "MISSED");
    return 0;
}
