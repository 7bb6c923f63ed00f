// Test sound for the desktop tests: feeds a pipe source with a tone in real time,
// and finds tones in a recording.
//   vorur-test-tone feed FIFO FREQ [BLOCK_SECONDS]
//       writes a 44.1 kHz stereo 16-bit sine of FREQ Hz at real-time pace until the
//       reader goes away or the tool is killed; with BLOCK_SECONDS, in blocks of that
//       length, each written when its time has passed (a source that delivers late,
//       in large blocks). Prints the bytes written to stderr at its end.
//   vorur-test-tone probe FILE.mp3 [--from SECONDS] FREQ...
//       decodes the recording and prints, for each FREQ, the share of its 100 ms
//       windows in which that tone is present, then its loudest window:
//       "FREQ share peak" (share 0..1, peak in full scale 0..1); the first line is
//       "length SECONDS". With --from, only the windows from that time on count.
//   vorur-test-tone heard FILE.raw FREQ START STOP
//       in a raw 44.1 kHz stereo 16-bit recording (a sink's monitor) where a sound
//       was started at START seconds and stopped at STOP: "onset SECONDS" after START
//       until the tone is first present (-1: never), "during SHARE" of the 50 ms
//       windows from then until STOP that hold it, "after SHARE" of those from 0.3 s
//       after STOP on.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "mp3_decode.h"

namespace {

constexpr int kRate = 44100;
// A tone counts as present from about -40 dBFS: well above the encoder's noise,
// well below the test tones' level.
constexpr double kPresent = 0.01;

volatile sig_atomic_t g_stop = 0;

int Feed(const char* fifo, double freq, double blockSeconds) {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, [](int) { g_stop = 1; });
    int fd = ::open(fifo, O_WRONLY);
    if (fd < 0) {
        std::perror(fifo);
        return 1;
    }
    // A small pipe holds little sound that a microphone would not have kept.
    fcntl(fd, F_SETPIPE_SZ, 8192);
    const size_t chunkFrames = blockSeconds > 0 ? static_cast<size_t>(blockSeconds * kRate) : 1024;
    std::vector<int16_t> chunk(chunkFrames * 2);
    uint64_t frame = 0, written = 0;
    auto t0 = std::chrono::steady_clock::now();
    while (!g_stop) {
        for (size_t i = 0; i < chunkFrames; ++i, ++frame) {
            auto v = static_cast<int16_t>(std::lround(12000.0 * std::sin(2 * M_PI * freq * double(frame) / kRate)));
            chunk[2 * i] = chunk[2 * i + 1] = v;
        }
        // A late block arrives once its sound has been "recorded"; a steady feed a
        // chunk ahead keeps the pipe source from starving.
        if (blockSeconds > 0)
            std::this_thread::sleep_until(t0 + std::chrono::microseconds(frame * 1000000 / kRate));
        const char* p = reinterpret_cast<const char*>(chunk.data());
        size_t left = chunk.size() * 2;
        while (left > 0 && !g_stop) {
            ssize_t n = ::write(fd, p, left);
            if (n <= 0) {
                g_stop = 1;
                break;
            }
            p += n;
            left -= static_cast<size_t>(n);
            written += static_cast<uint64_t>(n);
        }
        if (blockSeconds <= 0)
            std::this_thread::sleep_until(t0 + std::chrono::microseconds((frame - chunkFrames) * 1000000 / kRate));
        // A microphone keeps no sound for a reader that was away: after a blocked
        // write the tone goes on from now, not with what was missed.
        auto late = std::chrono::steady_clock::now() - (t0 + std::chrono::microseconds(frame * 1000000 / kRate));
        if (late > std::chrono::milliseconds(100))
            t0 += std::chrono::duration_cast<std::chrono::steady_clock::duration>(late);
    }
    std::fprintf(stderr, "%llu\n", static_cast<unsigned long long>(written));
    ::close(fd);
    return 0;
}

// Amplitude of one frequency in a window (Goertzel), in full scale.
double ToneAmplitude(const std::vector<double>& x, size_t begin, size_t n, double freq, double rate) {
    double w = 2 * M_PI * freq / rate, c = 2 * std::cos(w), s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        double s0 = x[begin + i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / double(n) / 32768.0;
}

int Probe(const char* path, double from, const std::vector<double>& freqs) {
    testmp3::Decoded d = testmp3::DecodeFile(path);
    if (!d.ok || d.channels < 1) {
        std::fprintf(stderr, "%s: not decodable\n", path);
        return 1;
    }
    std::vector<double> mono(d.pcm.size() / static_cast<size_t>(d.channels));
    for (size_t i = 0; i < mono.size(); ++i) {
        double sum = 0;
        for (int ch = 0; ch < d.channels; ++ch)
            sum += d.pcm[i * static_cast<size_t>(d.channels) + static_cast<size_t>(ch)];
        mono[i] = sum / d.channels;
    }
    std::printf("length %.3f\n", d.Seconds());
    size_t window = static_cast<size_t>(d.rate / 10);
    for (double f : freqs) {
        size_t windows = 0, present = 0;
        double peak = 0;
        size_t first = static_cast<size_t>(std::max(from, 0.0) * d.rate) / window * window;
        for (size_t b = first; b + window <= mono.size(); b += window, ++windows) {
            double a = ToneAmplitude(mono, b, window, f, double(d.rate));
            peak = std::max(peak, a);
            present += a >= kPresent;
        }
        std::printf("%g %.3f %.4f\n", f, windows ? double(present) / double(windows) : 0.0, peak);
    }
    return 0;
}

int Heard(const char* path, double freq, double start, double stop) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::perror(path);
        return 1;
    }
    std::vector<double> mono;
    int16_t frame[2];
    while (std::fread(frame, sizeof frame, 1, f) == 1)
        mono.push_back((double(frame[0]) + double(frame[1])) / 2);
    std::fclose(f);
    const size_t window = kRate / 20;
    auto present = [&](size_t w) { return ToneAmplitude(mono, w * window, window, freq, kRate) >= kPresent; };
    const size_t windows = mono.size() / window;
    auto at = [](double seconds) { return static_cast<size_t>(std::max(seconds, 0.0) * 20); };
    double onset = -1;
    size_t w = at(start);
    for (; w < windows && w < at(stop); ++w)
        if (present(w)) {
            onset = double(w) / 20 - start;
            break;
        }
    size_t during = 0, duringAll = 0, after = 0, afterAll = 0;
    for (; w < windows && w < at(stop); ++w, ++duringAll)
        during += present(w);
    for (w = at(stop + 0.3); w < windows; ++w, ++afterAll)
        after += present(w);
    std::printf("onset %.3f\nduring %.3f\nafter %.3f\n", onset, duringAll ? double(during) / double(duringAll) : 0.0,
                afterAll ? double(after) / double(afterAll) : 1.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "feed" && argc >= 4)
        return Feed(argv[2], std::atof(argv[3]), argc > 4 ? std::atof(argv[4]) : 0);
    if (verb == "probe" && argc >= 4) {
        double from = 0;
        int i = 3;
        if (std::string(argv[i]) == "--from" && i + 2 < argc) {
            from = std::atof(argv[i + 1]);
            i += 2;
        }
        std::vector<double> freqs;
        for (; i < argc; ++i)
            freqs.push_back(std::atof(argv[i]));
        return Probe(argv[2], from, freqs);
    }
    if (verb == "heard" && argc == 6)
        return Heard(argv[2], std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
    std::fprintf(stderr,
                 "usage: vorur-test-tone feed FIFO FREQ [BLOCK_SECONDS] | probe FILE.mp3 [--from S] FREQ... | "
                 "heard FILE.raw FREQ START STOP\n");
    return 2;
}
