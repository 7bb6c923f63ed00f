// Speed of the recording path, each beside its anchor in the same run.
//
//   recorder_bench buffers [seconds=60] [rounds=5]
//       per-buffer cost of CMP3Recorder::OnWaveData (analyse, encode, write) on
//       speech, as a share of the buffer's 23.2 ms and beside bare libmp3lame
//       encoding the same buffers (targets: at most 2 %, at most 1.15 x lame);
//       then the same with the playback mix on: each buffer of the microphone goes
//       through the wave-in queue, which adds a buffer of played sound from the
//       playback tap, before OnWaveData (same targets)
//   recorder_bench fft [buffers=20000] [rounds=5]
//       CFft::Analyse per buffer beside FFTW's 1024-point complex transform
//       (target: at most 4 x FFTW)
//   recorder_bench realtime [seconds=600]
//       a recording from the default device (SDL; the dummy driver when
//       SDL_AUDIODRIVER is unset) at real-time pace while another process keeps
//       one core busy; the device must drop nothing
//   no argument: buffers and fft.

#include <fftw3.h>
#include <lame/lame.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_sound.h"
#include "capture_route.h"
#include "codec_binding.h"
#include "fft.h"
#include "mp3_recorder.h"
#include "wavein.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBufferMs = 1024.0 * 1000 / 44100;  // 23.22 ms

class CountingTarget : public IMessageTarget {
public:
    bool IsWindow() const override { return true; }
    bool PostMessage(UINT, WPARAM, LPARAM) override {
        ++count;
        return true;
    }
    std::atomic<unsigned> count{0};
};

// A device that is never started: the benchmark plays the capture thread itself.
class IdleWaveIn : public IWaveInDevice {
public:
    MMRESULT Open(UINT, const WAVEFORMATEX&, IThreadMessageQueue*) override { return MMSYSERR_NOERROR; }
    MMRESULT PrepareHeader(WAVEHDR*) override { return MMSYSERR_NOERROR; }
    MMRESULT UnprepareHeader(WAVEHDR*) override { return MMSYSERR_NOERROR; }
    MMRESULT AddBuffer(WAVEHDR*) override { return MMSYSERR_NOERROR; }
    MMRESULT Start() override { return MMSYSERR_NOERROR; }
    MMRESULT Stop() override { return MMSYSERR_NOERROR; }
    MMRESULT Reset() override { return MMSYSERR_NOERROR; }
    MMRESULT Close() override { return MMSYSERR_NOERROR; }
    uint64_t DroppedBytes() const override { return 0; }
};

std::string TempFile(const char* name) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-" + std::to_string(getpid());
}

double RecorderPass(const std::vector<int16_t>& pcm, const std::string& path) {
    CountingTarget target;
    CMP3Recorder recorder;
    if (!recorder.Open(&target, path))
        std::exit(1);
    auto t0 = Clock::now();
    for (size_t pos = 0; pos + 2048 <= pcm.size(); pos += 2048)
        recorder.OnWaveData(reinterpret_cast<const char*>(pcm.data() + pos), 4096);
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    recorder.Close();
    return s;
}

class NoQueue : public IThreadMessageQueue {
public:
    bool PostThreadMessage(UINT, WPARAM, LPARAM) override { return true; }
};

// The capture side of a playback-mix recording: what was played goes into the tap,
// the microphone's sound through the wave-in queue (where the two are added) into a
// capture buffer, and the buffer into OnWaveData, which is queued again.
double RecorderMixPass(const std::vector<int16_t>& pcm, const std::vector<int16_t>& played, const std::string& path) {
    CountingTarget target;
    CMP3Recorder recorder;
    if (!recorder.Open(&target, path))
        std::exit(1);
    CPlaybackTap tap;
    NoQueue callback;
    CWaveInBufferQueue queue;
    std::vector<char> data(4096);
    WAVEHDR header{data.data(), 4096, 0, 0, 0, 0, nullptr, 0};
    queue.SetCallback(&callback);
    queue.SetPlaybackTap(&tap);
    queue.SetCapturing(true);
    auto t0 = Clock::now();
    for (size_t pos = 0; pos + 2048 <= pcm.size(); pos += 2048) {
        tap.Push(played.data() + pos % (played.size() - 2048), 1024);
        queue.Prepare(&header);
        queue.Add(&header);
        queue.Write(reinterpret_cast<const uint8_t*>(pcm.data() + pos), 4096);
        queue.Unprepare(&header);
        recorder.OnWaveData(header.lpData, header.dwBytesRecorded);
        header.dwFlags = 0;
    }
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    queue.SetCapturing(false);
    recorder.Close();
    return s;
}

double LamePass(const std::vector<int16_t>& pcm, std::vector<uint8_t>& out) {
    lame_t lame = benchsound::NewAnchorLame();
    if (!lame)
        std::exit(1);
    auto t0 = Clock::now();
    for (size_t pos = 0; pos + 2048 <= pcm.size(); pos += 2048)
        lame_encode_buffer_interleaved(lame, const_cast<short*>(pcm.data() + pos), 1024, out.data(),
                                       static_cast<int>(out.size()));
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    lame_close(lame);
    return s;
}

int Buffers(double seconds, int rounds) {
    if (!LoadCodecLibrary()) {
        std::fprintf(stderr, "recorder_bench: %s cannot be loaded\n", CodecLibraryFileName());
        return 1;
    }
    SetWaveInFactoryForTesting([] { return std::unique_ptr<IWaveInDevice>(new IdleWaveIn()); });
    std::vector<int16_t> pcm = benchsound::Speech(seconds);
    size_t buffers = pcm.size() / 2048;
    std::string path = TempFile("vorur-bench.mp3");
    std::vector<uint8_t> out(1048576);
    // The page sound: a different stretch of the same speech.
    std::vector<int16_t> played(pcm.rbegin(), pcm.rend());
    double bestRec = 1e9, bestMix = 1e9, bestLame = 1e9;
    for (int r = 0; r < rounds; ++r) {
        if (r % 2 == 0) {
            bestRec = std::min(bestRec, RecorderPass(pcm, path));
            bestMix = std::min(bestMix, RecorderMixPass(pcm, played, path));
            bestLame = std::min(bestLame, LamePass(pcm, out));
        } else {
            bestLame = std::min(bestLame, LamePass(pcm, out));
            bestMix = std::min(bestMix, RecorderMixPass(pcm, played, path));
            bestRec = std::min(bestRec, RecorderPass(pcm, path));
        }
    }
    unlink(path.c_str());
    double recUs = bestRec / buffers * 1e6, mixUs = bestMix / buffers * 1e6, lameUs = bestLame / buffers * 1e6;
    std::printf("OnWaveData on %zu buffers of %s (best of %d rounds)\n", buffers, benchsound::SpeechSource(), rounds);
    auto line = [&](const char* what, double us) {
        double share = us / 1000 / kBufferMs * 100;
        std::printf("  %-42s: %7.1f us per buffer = %.2f %% of %.1f ms (at most 2 %%) %s; / bare lame %.3f (at most 1.15) %s\n",
                    what, us, share, kBufferMs, share <= 2.0 ? "OK" : "MISSED", us / lameUs,
                    us / lameUs <= 1.15 ? "OK" : "MISSED");
    };
    line("OnWaveData (analyse, encode, write)", recUs);
    line("with the playback mix (tap, queue, mix)", mixUs);
    std::printf("  %-42s: %7.1f us per buffer\n", "bare libmp3lame, same buffers", lameUs);
    return 0;
}

int Fft(int count, int rounds) {
    count = std::max(count, 1);
    rounds = std::max(rounds, 1);
    std::vector<int16_t> pcm = benchsound::Speech(double(count) * 1024 / 44100 + 1);
    CFft fft;
    CountingTarget target;
    fft.SetTarget(&target);
    fftw_complex* in = fftw_alloc_complex(1024);
    fftw_complex* out = fftw_alloc_complex(1024);
    fftw_plan plan = fftw_plan_dft_1d(1024, in, out, FFTW_FORWARD, FFTW_MEASURE);
    for (int i = 0; i < 1024; ++i) {
        in[i][0] = pcm[i];
        in[i][1] = 0;
    }
    double bestOurs = 1e9, bestFftw = 1e9;
    std::vector<double> ratios;  // per round: both sides ran under the same load
    volatile double sink = 0;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = Clock::now();
        for (int b = 0; b < count; ++b)
            fft.Analyse(pcm.data() + size_t(b) * 2048 % (pcm.size() - 2048), 4096);
        const double ours = std::chrono::duration<double>(Clock::now() - t0).count();
        sink = sink + fft.Magnitudes()[3];
        t0 = Clock::now();
        for (int b = 0; b < count; ++b) {
            fftw_execute(plan);
            sink = sink + out[3][0];
        }
        const double fftw = std::chrono::duration<double>(Clock::now() - t0).count();
        bestOurs = std::min(bestOurs, ours);
        bestFftw = std::min(bestFftw, fftw);
        ratios.push_back(ours / fftw);
    }
    std::sort(ratios.begin(), ratios.end());
    const double medianRatio = ratios[ratios.size() / 2];
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
    double oursUs = bestOurs / count * 1e6, fftwUs = bestFftw / count * 1e6;
    std::printf("CFft::Analyse over %d buffers (best of %d rounds)\n", count, rounds);
    std::printf("  CFft::Analyse                    : %6.2f us per buffer\n", oursUs);
    std::printf("  FFTW 1024-point complex transform: %6.2f us per buffer\n", fftwUs);
    std::printf("  Analyse / FFTW: %.2f (target at most 4) %s; median of the rounds' ratios %.2f\n", oursUs / fftwUs,
                oursUs / fftwUs <= 4 ? "OK" : "MISSED", medianRatio);
    return 0;
}

int Realtime(double seconds) {
    if (!std::getenv("SDL_AUDIODRIVER"))
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (!LoadCodecLibrary()) {
        std::fprintf(stderr, "recorder_bench: %s cannot be loaded\n", CodecLibraryFileName());
        return 1;
    }
    pid_t busy = fork();
    if (busy == 0) {
        volatile unsigned long spin = 0;
        for (;;)
            spin = spin + 1;
    }
    CountingTarget target;
    CMP3Recorder recorder;
    std::string path = TempFile("vorur-bench-rt.mp3");
    bool ok = recorder.Open(&target, path) && recorder.Start();
    auto t0 = Clock::now();
    while (ok && std::chrono::duration<double>(Clock::now() - t0).count() < seconds) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        double at = std::chrono::duration<double>(Clock::now() - t0).count();
        if (int(at) % 60 == 0)
            std::printf("  %4.0f s: captured %.1f s, dropped %llu bytes\n", at, double(recorder.CapturedBytes()) / 176400,
                        static_cast<unsigned long long>(recorder.DroppedBytes()));
    }
    recorder.Close();
    kill(busy, SIGKILL);
    waitpid(busy, nullptr, 0);
    unlink(path.c_str());
    if (!ok) {
        std::fprintf(stderr, "recorder_bench: the recording did not start\n");
        return 1;
    }
    uint64_t dropped = recorder.DroppedBytes();
    std::printf("real-time recording of %.0f s beside a busy core (driver %s)\n", seconds, std::getenv("SDL_AUDIODRIVER"));
    std::printf("  captured %.1f s, %u level messages, dropped %llu bytes = %.1f buffers (target 0) %s\n",
                double(recorder.CapturedBytes()) / 176400, target.count.load(),
                static_cast<unsigned long long>(dropped), dropped / 4096.0, dropped == 0 ? "OK" : "MISSED");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "buffers")
        return Buffers(argc > 2 ? std::atof(argv[2]) : 60, argc > 3 ? std::atoi(argv[3]) : 5);
    if (mode == "fft")
        return Fft(argc > 2 ? std::atoi(argv[2]) : 20000, argc > 3 ? std::atoi(argv[3]) : 5);
    if (mode == "realtime")
        return Realtime(argc > 2 ? std::atof(argv[2]) : 600);
    if (!mode.empty()) {
        std::fprintf(stderr, "usage: recorder_bench [buffers|fft|realtime] [args]\n");
        return 2;
    }
    return Buffers(60, 5) || Fft(20000, 5);
}
