// Speech for the benchmarks: espeak-ng's voice when it is installed, else a
// synthetic voiced sound; 44100 Hz 16-bit stereo.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <lame/lame.h>
#include <vector>

namespace benchsound {

// The anchor of the encoding benchmarks: bare libmp3lame with the settings the codec
// library gives a recording (32 kbit/s CBR, joint stereo, 22050 Hz out, no bit
// reservoir, no header). Null when the encoder refuses them.
inline lame_t NewAnchorLame() {
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, 44100);
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_out_samplerate(lame, 22050);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, 32);
    lame_set_extension(lame, 1);
    lame_set_copyright(lame, 1);
    lame_set_original(lame, 1);
    lame_set_bWriteVbrTag(lame, 0);
    lame_set_disable_reservoir(lame, 1);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return nullptr;
    }
    return lame;
}

inline bool& SpokenFlag() {
    static bool spoken = false;
    return spoken;
}

inline const char* SpeechSource() { return SpokenFlag() ? "espeak-ng speech" : "synthetic voiced sound"; }

inline std::vector<int16_t> Synthetic(size_t frames) {
    std::vector<int16_t> pcm(frames * 2);
    double phase = 0;
    for (size_t i = 0; i < frames; ++i) {
        double t = double(i) / 44100;
        double f0 = 120 + 40 * std::sin(2 * M_PI * 0.7 * t);
        phase += 2 * M_PI * f0 / 44100;
        double v = 0;
        for (int h = 1; h <= 12; ++h)
            v += std::sin(h * phase) / h;
        double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 2.5 * t);
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(6000 * v * envelope);
    }
    return pcm;
}

inline std::vector<int16_t> Speech(double seconds) {
    size_t frames = static_cast<size_t>(seconds * 44100);
    char dir[] = "/tmp/vorur-bench-XXXXXX";
    std::vector<int16_t> voice;
    if (mkdtemp(dir)) {
        std::string d = dir;
        std::string cmd = "espeak-ng -s 150 -w " + d + "/s.wav 'Good morning. Please listen to the model sound and "
                          "repeat after it. The weather is fine today, and we are going to the market together.' "
                          ">/dev/null 2>&1 && sox " + d + "/s.wav -r 44100 -c 2 -b 16 -e signed-integer -t raw " + d +
                          "/s.raw >/dev/null 2>&1";
        if (std::system(cmd.c_str()) == 0) {
            std::ifstream in(d + "/s.raw", std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            voice.resize(bytes.size() / 2);
            std::copy(bytes.data(), bytes.data() + voice.size() * 2, reinterpret_cast<char*>(voice.data()));
        }
        std::system(("rm -rf " + d).c_str());
    }
    if (voice.empty())
        return Synthetic(frames);
    SpokenFlag() = true;
    std::vector<int16_t> pcm(frames * 2);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = voice[i % voice.size()];
    return pcm;
}

}  // namespace benchsound
