#include "mixer.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "mixer_sim.h"

IMixerSystem& GetPulseMixerSystem();

namespace {
std::mutex g_choiceLock;
IMixerSystem* g_system = nullptr;
}  // namespace

IMixerSystem& GetMixerSystem() {
    std::lock_guard<std::mutex> guard(g_choiceLock);
    if (!g_system) {
        const char* choice = std::getenv("VORUR_MIXER");
        if (choice && std::strcmp(choice, "sim") == 0)
            g_system = &GetSimMixerSystem();
        else
            g_system = &GetPulseMixerSystem();
    }
    return *g_system;
}

void ResetMixerSystemForTesting() {
    std::lock_guard<std::mutex> guard(g_choiceLock);
    g_system = nullptr;
}
