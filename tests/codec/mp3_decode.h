// Decodes MP3 files and makes test sound, for the codec and recording tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testmp3 {

struct Decoded {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    std::vector<int16_t> pcm;  // interleaved
    double Seconds() const { return ok && rate && channels ? double(pcm.size()) / channels / rate : 0.0; }
};

Decoded DecodeFile(const std::string& path);

// Spoken text as 44100 Hz 16-bit stereo PCM (espeak-ng and sox); empty when
// either program is missing.
std::vector<int16_t> SpeechPcm(const std::string& folder, const std::string& text);

// Mono mix of interleaved stereo, every `step`-th frame averaged over the step.
std::vector<double> MonoDownsampled(const std::vector<int16_t>& stereo, int step);

// The highest normalised correlation of b against a, b delayed by 0..maxLag samples.
double BestCorrelation(const std::vector<double>& a, const std::vector<double>& b, int maxLag, int* lag = nullptr);

}  // namespace testmp3
