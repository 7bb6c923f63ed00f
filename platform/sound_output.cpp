#include "sound_output.h"

#include "sound_sdl.h"
#include "sound_sim.h"

#include <cstdlib>
#include <cstring>

ISoundOutput& DefaultSoundOutput() {
    // Chosen once and kept for the life of the process, like the SDL output itself.
    static ISoundOutput* output = [] () -> ISoundOutput* {
        const char* choice = std::getenv("VORUR_SOUND");
        if (choice && std::strcmp(choice, "sim") == 0)
            return new CSimSoundOutput(SystemTickClock());
        return &SdlSoundOutput();
    }();
    return *output;
}
