#include "mp3_decode.h"

#include <mpg123.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace testmp3 {

Decoded DecodeFile(const std::string& path) {
    Decoded out;
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
    int err = 0;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (!mh)
        return out;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(mh);
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(mh, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
        mpg123_delete(mh);
        return out;
    }
    int encoding = 0;
    unsigned char buffer[16384];
    for (;;) {
        size_t done = 0;
        int r = mpg123_read(mh, buffer, sizeof(buffer), &done);
        if (r == MPG123_NEW_FORMAT) {
            mpg123_getformat(mh, &out.rate, &out.channels, &encoding);
            continue;
        }
        const int16_t* samples = reinterpret_cast<const int16_t*>(buffer);
        out.pcm.insert(out.pcm.end(), samples, samples + done / 2);
        if (r == MPG123_DONE)
            break;
        if (r != MPG123_OK) {
            mpg123_close(mh);
            mpg123_delete(mh);
            return out;
        }
    }
    out.ok = out.rate > 0 && out.channels > 0;
    mpg123_close(mh);
    mpg123_delete(mh);
    return out;
}

std::vector<int16_t> SpeechPcm(const std::string& folder, const std::string& text) {
    std::string wav = folder + "/speech.wav";
    std::string raw = folder + "/speech.raw";
    std::string cmd = "espeak-ng -s 150 -w '" + wav + "' '" + text + "' >/dev/null 2>&1 && sox '" + wav +
                      "' -r 44100 -c 2 -b 16 -e signed-integer -t raw '" + raw + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
        return {};
    std::ifstream in(raw, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return pcm;
}

std::vector<double> MonoDownsampled(const std::vector<int16_t>& stereo, int step) {
    std::vector<double> mono;
    size_t frames = stereo.size() / 2;
    for (size_t f = 0; f + step <= frames; f += step) {
        double sum = 0;
        for (int i = 0; i < step; ++i)
            sum += stereo[2 * (f + i)] + stereo[2 * (f + i) + 1];
        mono.push_back(sum / (2.0 * step));
    }
    return mono;
}

double BestCorrelation(const std::vector<double>& a, const std::vector<double>& b, int maxLag, int* lagOut) {
    double best = -1;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < a.size() && i + lag < b.size(); ++i) {
            ab += a[i] * b[i + lag];
            aa += a[i] * a[i];
            bb += b[i + lag] * b[i + lag];
        }
        if (aa > 0 && bb > 0) {
            double c = ab / std::sqrt(aa * bb);
            if (c > best) {
                best = c;
                if (lagOut)
                    *lagOut = lag;
            }
        }
    }
    return best;
}

}  // namespace testmp3
