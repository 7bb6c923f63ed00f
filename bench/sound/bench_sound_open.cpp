// Time of a page change in the sound player (Close of the playing sound, Open of the
// next page's 5-second sound) beside plain decoding of the same file with libmpg123 or
// libvorbisfile, and of opening a 10-minute recording to be heard. Runs on whatever
// SDL_AUDIODRIVER says (dummy if unset).
//
//   bench_sound_open [iterations]
#include "../bench_util.h"
#include "mci_player.h"
#include "sound_sdl.h"

#include <mpg123.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using bench::Ms;

using bench::Median;

// Decodes a whole MP3 to 16-bit PCM; returns the bytes produced.
size_t DecodeMp3(const std::string& path) {
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    size_t total = 0;
    if (mh && mpg123_open(mh, path.c_str()) == MPG123_OK) {
        std::vector<unsigned char> buf(65536);
        size_t done = 0;
        int rc;
        while ((rc = mpg123_read(mh, buf.data(), buf.size(), &done)) == MPG123_OK || rc == MPG123_NEW_FORMAT)
            total += done;
        total += done;
        mpg123_close(mh);
    }
    mpg123_delete(mh);
    return total;
}

size_t DecodeOgg(const std::string& path) {
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0)
        return 0;
    std::vector<char> buf(65536);
    size_t total = 0;
    int section = 0;
    long n;
    while ((n = ov_read(&vf, buf.data(), static_cast<int>(buf.size()), 0, 2, 1, &section)) > 0)
        total += static_cast<size_t>(n);
    ov_clear(&vf);
    return total;
}

bool Sox(const std::string& args) { return std::system(("sox -V1 " + args).c_str()) == 0; }

void Compare(const char* label, CKtMCIPlayer& player, const std::string& other, const std::string& path,
             const std::function<size_t(const std::string&)>& anchor, int iterations) {
    std::vector<double> ours, base;
    size_t bytes = 0;
    for (int i = 0; i < iterations + 3; ++i) {
        // The previous page's sound is playing when the page changes.
        player.Open(other);
        player.Play(0);
        auto t0 = Clock::now();
        player.Close();
        BOOL ok = player.Open(path);
        auto t1 = Clock::now();
        bytes = anchor(path);
        auto t2 = Clock::now();
        if (!ok || bytes == 0) {
            std::printf("%s: could not open or decode %s\n", label, path.c_str());
            return;
        }
        if (i >= 3) {  // the first rounds warm caches and load the decoders
            ours.push_back(Ms(t1 - t0));
            base.push_back(Ms(t2 - t1));
        }
    }
    double a = Median(ours), b = Median(base);
    std::printf("%-28s Close+Open %7.2f ms   plain decode %7.2f ms   ratio %5.2f   (length %u ms)\n", label, a, b,
                b > 0 ? a / b : 0.0, player.m_dwLength);
}

}  // namespace

int main(int argc, char** argv) {
    int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    setenv("SDL_AUDIODRIVER", "dummy", 0);

    char dirTemplate[] = "/tmp/bench-sound-XXXXXX";
    if (!mkdtemp(dirTemplate))
        return 1;
    std::string dir = dirTemplate;
    const std::string wav = dir + "/voice.wav", mono = dir + "/mono.wav", other = dir + "/other.wav";
    // Five seconds of a changing tone with noise: something like a spoken page sound.
    if (!Sox("-n -r 44100 -c 2 -b 16 " + wav + " synth 5 sine 200-800 synth 5 pinknoise mix vol 0.5") ||
        !Sox(wav + " -r 22050 -c 1 " + mono) || !Sox("-n -r 44100 -c 2 -b 16 " + other + " synth 1 sine 500") ||
        !Sox(wav + " " + dir + "/stereo44.mp3") || !Sox(wav + " " + dir + "/stereo44.ogg") ||
        !Sox(mono + " " + dir + "/mono22.mp3") || !Sox(mono + " " + dir + "/mono22.ogg")) {
        std::printf("sox failed\n");
        return 1;
    }

    mpg123_init();
    CKtMCIPlayer player(&SdlSoundOutput());
    auto t0 = Clock::now();
    if (!player.Open(other)) {
        std::printf("no audio output\n");
        return 1;
    }
    std::printf("first Open, with the audio device (driver %s): %.2f ms\n",
                getenv("SDL_AUDIODRIVER"), Ms(Clock::now() - t0));
    std::printf("5 s page sounds, %d iterations, medians; ratio = ours / plain decode\n", iterations);
    Compare("MP3 44.1 kHz stereo", player, other, dir + "/stereo44.mp3", DecodeMp3, iterations);
    Compare("MP3 22.05 kHz mono", player, other, dir + "/mono22.mp3", DecodeMp3, iterations);
    Compare("OGG 44.1 kHz stereo", player, other, dir + "/stereo44.ogg", DecodeOgg, iterations);
    Compare("OGG 22.05 kHz mono", player, other, dir + "/mono22.ogg", DecodeOgg, iterations);
    // A long take heard before it is sent: the question box opens once it is decoded.
    const std::string take = dir + "/take.mp3";
    if (Sox("-n -r 44100 -c 2 -C 32 " + take + " synth 600 sine 200-800 synth 600 pinknoise mix vol 0.5"))
        Compare("10 min take, 32 kbit/s", player, other, take, DecodeMp3, 3);
    player.Close();
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
