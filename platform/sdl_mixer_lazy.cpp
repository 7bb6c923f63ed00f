// SDL_mixer, loaded when the player first decodes or plays a sound rather than at
// start: the library brings some forty others (MIDI synthesis, JACK, readline,
// GLib...) that would otherwise all be mapped and relocated before main(). These
// are the SDL_mixer functions the sound output calls; each forwards to the
// library, loaded once. Without the library they fail as SDL_mixer does without a
// device, with SDL's error set.
#include <dlfcn.h>

#include <SDL.h>
#include <SDL_mixer.h>
#include <string>

#include "lazy_library.h"

namespace {

constexpr const char* kLibrary = "libSDL2_mixer-2.0.so.0";

struct MixerLibrary {
    void* handle = nullptr;
    std::string error;
    int(SDLCALL* init)(int) = nullptr;
    void(SDLCALL* quit)() = nullptr;
    int(SDLCALL* openAudioDevice)(int, Uint16, int, int, const char*, int) = nullptr;
    int(SDLCALL* querySpec)(int*, Uint16*, int*) = nullptr;
    void(SDLCALL* closeAudio)() = nullptr;
    void(SDLCALL* hookMusic)(void(SDLCALL*)(void*, Uint8*, int), void*) = nullptr;
    Mix_Chunk*(SDLCALL* loadWavRw)(SDL_RWops*, int) = nullptr;
    void(SDLCALL* freeChunk)(Mix_Chunk*) = nullptr;
};

const MixerLibrary& Library() {
    static const MixerLibrary library = [] {
        MixerLibrary l;
        l.handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!l.handle) {
            const char* why = dlerror();
            l.error = std::string("cannot load ") + kLibrary + ": " + (why ? why : "");
            return l;
        }
        if (!(BindSymbol(l.handle, l.init, "Mix_Init") && BindSymbol(l.handle, l.quit, "Mix_Quit") &&
              BindSymbol(l.handle, l.openAudioDevice, "Mix_OpenAudioDevice") &&
              BindSymbol(l.handle, l.querySpec, "Mix_QuerySpec") && BindSymbol(l.handle, l.closeAudio, "Mix_CloseAudio") &&
              BindSymbol(l.handle, l.hookMusic, "Mix_HookMusic") && BindSymbol(l.handle, l.loadWavRw, "Mix_LoadWAV_RW") &&
              BindSymbol(l.handle, l.freeChunk, "Mix_FreeChunk"))) {
            l = MixerLibrary();
            l.error = std::string(kLibrary) + " lacks a function the player calls";
        }
        return l;
    }();
    return library;
}

// The library, or null with SDL's error set.
const MixerLibrary* Loaded() {
    const MixerLibrary& l = Library();
    if (l.handle)
        return &l;
    SDL_SetError("%s", l.error.c_str());
    return nullptr;
}

}  // namespace

extern "C" {

int SDLCALL Mix_Init(int flags) {
    const MixerLibrary* l = Loaded();
    return l ? l->init(flags) : 0;
}

void SDLCALL Mix_Quit(void) {
    if (const MixerLibrary* l = Loaded())
        l->quit();
}

int SDLCALL Mix_OpenAudioDevice(int frequency, Uint16 format, int channels, int chunksize, const char* device,
                                int allowed_changes) {
    const MixerLibrary* l = Loaded();
    return l ? l->openAudioDevice(frequency, format, channels, chunksize, device, allowed_changes) : -1;
}

int SDLCALL Mix_QuerySpec(int* frequency, Uint16* format, int* channels) {
    const MixerLibrary* l = Loaded();
    return l ? l->querySpec(frequency, format, channels) : 0;
}

void SDLCALL Mix_CloseAudio(void) {
    if (const MixerLibrary* l = Loaded())
        l->closeAudio();
}

void SDLCALL Mix_HookMusic(void(SDLCALL* mix_func)(void* udata, Uint8* stream, int len), void* arg) {
    if (const MixerLibrary* l = Loaded())
        l->hookMusic(mix_func, arg);
}

Mix_Chunk* SDLCALL Mix_LoadWAV_RW(SDL_RWops* src, int freesrc) {
    if (const MixerLibrary* l = Loaded())
        return l->loadWavRw(src, freesrc);
    if (src && freesrc)
        SDL_RWclose(src);  // as the library does with a source it cannot read
    return nullptr;
}

void SDLCALL Mix_FreeChunk(Mix_Chunk* chunk) {
    if (const MixerLibrary* l = Loaded())
        l->freeChunk(chunk);
}

}  // extern "C"
