// Play -> the first sample handed to the audio device, for the page-sound player on
// SDL, beside the anchor: SDL opening a bare device and asking for its first buffer.
// "left alone": the output has closed its device for want of use and the sound server
// has had IDLE_SECONDS to suspend its sink, as on a page left alone; "just closed":
// Play at once after the device went; "open": Play right after a Stop, the device
// still there; "first page": a sound taken unread (the lesson's first page) and read
// at its Play, also after IDLE_SECONDS. Runs on whatever SDL_AUDIODRIVER says (SDL's
// own choice if unset).
//
//   bench_play_latency [runs] [IDLE_SECONDS]
#include "../bench_util.h"
#include "mci_player.h"
#include "sound_sdl.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTargetMs = 30;

using bench::Ms;

using bench::Median;

double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// A 3 s 440 Hz tone as 44.1 kHz stereo 16-bit WAV, the page sounds' format.
std::string WriteTone() {
    char name[] = "/tmp/bench-play-latency-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0)
        return {};
    const uint32_t frames = 3 * 44100, bytes = frames * 4;
    std::vector<uint8_t> file(44 + bytes);
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i)); };
    auto put16 = [&](size_t at, uint16_t v) { file[at] = uint8_t(v); file[at + 1] = uint8_t(v >> 8); };
    std::copy_n("RIFF", 4, file.begin());
    put32(4, 36 + bytes);
    std::copy_n("WAVEfmt ", 8, file.begin() + 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, 44100);
    put32(28, 44100 * 4);
    put16(32, 4);
    put16(34, 16);
    std::copy_n("data", 4, file.begin() + 36);
    put32(40, bytes);
    for (uint32_t i = 0; i < frames; ++i) {
        auto v = static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * i / 44100.0)));
        put16(44 + 4 * i, v);
        put16(46 + 4 * i, v);
    }
    const bool ok = write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size());
    close(fd);
    return ok ? std::string(name) : std::string();
}

// Play until the sound's position moves: the device has taken its first buffer.
double PlayToFirstBuffer(CKtMCIPlayer& player) {
    player.Stop();
    player.SeekToStart();
    const auto t0 = Clock::now();
    player.Play(0);
    while (player.m_bPlaying && player.GetPosition() == 0 && Clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return Ms(Clock::now() - t0);
}

bool WaitForClosedDevice() {
    const auto t0 = Clock::now();
    while (SdlSoundDeviceOpen()) {
        if (Clock::now() - t0 > std::chrono::seconds(10))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::atomic<bool> g_called{false};
void SDLCALL Anchor(void*, Uint8* stream, int len) {
    SDL_memset(stream, 0, static_cast<size_t>(len));
    g_called = true;
}

// The anchor: the audio subsystem started, a device opened and its first buffer asked for.
double AnchorOnce() {
    const auto t0 = Clock::now();
    SDL_InitSubSystem(SDL_INIT_AUDIO);
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = Anchor;
    g_called = false;
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return -1;
    }
    SDL_PauseAudioDevice(device, 0);
    while (!g_called && Clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const double ms = Ms(Clock::now() - t0);
    SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return ms;
}

void Row(const char* what, const std::vector<double>& ours, double anchor) {
    const double median = Median(ours);
    std::printf("%-38s median %6.1f ms  max %6.1f ms  anchor %5.1f ms  ratio %4.2f  target <= %.0f ms  %s\n", what,
                median, Max(ours), anchor, anchor > 0 ? median / anchor : 0.0, kTargetMs,
                median <= kTargetMs ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const auto idle = std::chrono::milliseconds(argc > 2 ? static_cast<int>(std::atof(argv[2]) * 1000) : 0);
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const std::string tone = WriteTone();
    if (tone.empty()) {
        std::fprintf(stderr, "cannot write the test sound\n");
        return 1;
    }
    std::vector<double> anchor;
    for (int i = 0; i < runs; ++i)
        anchor.push_back(AnchorOnce());
    SDL_InitSubSystem(SDL_INIT_AUDIO);
    std::printf("Play -> first sample handed to the device, SDL driver %s, %d runs\n",
                SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "none", runs);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    const double anchorMs = Median(anchor);

    CKtMCIPlayer player(&SdlSoundOutput());
    std::vector<double> alone, justClosed, open, first;
    for (int i = 0; i < runs; ++i) {
        if (!player.Open(tone)) {
            std::fprintf(stderr, "the test sound does not open\n");
            return 1;
        }
        if (!WaitForClosedDevice()) {
            std::fprintf(stderr, "the output keeps its device open while nothing plays\n");
            return 1;
        }
        std::this_thread::sleep_for(idle);
        alone.push_back(PlayToFirstBuffer(player));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        open.push_back(PlayToFirstBuffer(player));
        player.Stop();
        WaitForClosedDevice();
        justClosed.push_back(PlayToFirstBuffer(player));
        player.Close();
        player.OpenLater(tone);
        WaitForClosedDevice();
        std::this_thread::sleep_for(idle);
        first.push_back(PlayToFirstBuffer(player));
        player.Close();
    }
    char what[64];
    std::snprintf(what, sizeof what, "left alone (device closed, +%.0f s)", idle.count() / 1000.0);
    Row(what, alone, anchorMs);
    Row("device just closed", justClosed, anchorMs);
    Row("device open (Play after Stop)", open, anchorMs);
    std::snprintf(what, sizeof what, "first page, read at its Play (+%.0f s)", idle.count() / 1000.0);
    Row(what, first, anchorMs);
    unlink(tone.c_str());
    return 0;
}
