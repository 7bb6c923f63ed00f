#include "mixer.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "capture_route.h"
#include "mixer_sim.h"

IMixerSystem& GetPulseMixerSystem();
// Loads libpulse now, on the calling thread (pulse_lazy.cpp).
void PreloadPulse();

namespace {
std::mutex g_choiceLock;
IMixerSystem* g_system = nullptr;

bool SimChosen() {
    const char* choice = std::getenv("VORUR_MIXER");
    return choice && std::strcmp(choice, "sim") == 0;
}
}  // namespace

void PreloadMixerLibrary() {
    if (!SimChosen())
        PreloadPulse();
}

IMixerSystem& GetMixerSystem() {
    std::lock_guard<std::mutex> guard(g_choiceLock);
    if (!g_system) {
        // The capture records from the same place as the mixer describes: the sound
        // server's sources, or, beside the simulated card, SDL's default device.
        if (SimChosen()) {
            g_system = &GetSimMixerSystem();
            SetCaptureServer(CaptureServer::Sdl);
        } else {
            g_system = &GetPulseMixerSystem();
            SetCaptureServer(CaptureServer::Pulse);
        }
    }
    return *g_system;
}

void ResetMixerSystemForTesting() {
    std::lock_guard<std::mutex> guard(g_choiceLock);
    g_system = nullptr;
}
