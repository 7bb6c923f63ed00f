// SDL2, loaded when a page sound or an SDL capture device is first opened (see
// lazy_library.h): with its X11, Wayland, DRM and ALSA libraries it would
// otherwise be mapped by every start, before the first window, for sounds that may
// never be played. SDL_mixer (sdl_mixer_lazy.cpp) finds it loaded. Without the
// library every call fails as SDL's own do without an audio driver.
#include <SDL.h>

#include <cstdarg>
#include <cstdio>

#include "lazy_library.h"

// X(return type, name, (parameters), (arguments), value when SDL is missing)
#define VORUR_SDL_FUNCTIONS(X)                                                                                   \
    X(int, SDL_SetMemoryFunctions,                                                                               \
      (SDL_malloc_func malloc_func, SDL_calloc_func calloc_func, SDL_realloc_func realloc_func,                  \
       SDL_free_func free_func),                                                                                 \
      (malloc_func, calloc_func, realloc_func, free_func), -1)                                                   \
    X(int, SDL_InitSubSystem, (Uint32 flags), (flags), -1)                                                       \
    X(void, SDL_QuitSubSystem, (Uint32 flags), (flags), 0)                                                       \
    X(SDL_bool, SDL_SetHint, (const char* name, const char* value), (name, value), SDL_FALSE)                    \
    X(SDL_AudioDeviceID, SDL_OpenAudioDevice,                                                                    \
      (const char* device, int iscapture, const SDL_AudioSpec* desired, SDL_AudioSpec* obtained,                 \
       int allowed_changes),                                                                                     \
      (device, iscapture, desired, obtained, allowed_changes), 0)                                                \
    X(void, SDL_CloseAudioDevice, (SDL_AudioDeviceID dev), (dev), 0)                                             \
    X(void, SDL_PauseAudioDevice, (SDL_AudioDeviceID dev, int pause_on), (dev, pause_on), 0)                     \
    X(const char*, SDL_GetAudioDeviceName, (int index, int iscapture), (index, iscapture), nullptr)              \
    X(const char*, SDL_GetCurrentAudioDriver, (), (), nullptr)                                                   \
    X(void, SDL_MixAudioFormat, (Uint8 * dst, const Uint8* src, SDL_AudioFormat format, Uint32 len, int volume), \
      (dst, src, format, len, volume), 0)                                                                        \
    X(SDL_RWops*, SDL_RWFromFile, (const char* file, const char* mode), (file, mode), nullptr)                   \
    X(int, SDL_RWclose, (SDL_RWops * context), (context), -1)                                                    \
    X(int, SDL_PeepEvents,                                                                                       \
      (SDL_Event * events, int numevents, SDL_eventaction action, Uint32 minType, Uint32 maxType),               \
      (events, numevents, action, minType, maxType), -1)                                                         \
    X(void, SDL_FlushEvents, (Uint32 minType, Uint32 maxType), (minType, maxType), 0)                            \
    X(void, SDL_free, (void* mem), (mem), 0)                                                                     \
    X(void*, SDL_memset, (void* dst, int c, size_t len), (dst, c, len), nullptr)

namespace {

// (SDLCALL, the calling convention in SDL's declarations, is empty on Linux.)
struct SdlLibrary {
    void* handle = nullptr;
    VORUR_SDL_FUNCTIONS(VORUR_LAZY_MEMBER)
    decltype(&::SDL_SetError) setError = nullptr;
};

const SdlLibrary* Loaded() {
    static const SdlLibrary library = LoadLazyLibrary<SdlLibrary>(
        "libSDL2-2.0.so.0", "page sounds cannot be played", [](SdlLibrary& l) {
            return true VORUR_SDL_FUNCTIONS(VORUR_LAZY_BIND) && BindSymbol(l.handle, l.setError, "SDL_SetError");
        });
    return library.handle ? &library : nullptr;
}

}  // namespace

extern "C" {

VORUR_SDL_FUNCTIONS(VORUR_LAZY_FORWARD)

// Variadic: formatted here, handed on as text.

int SDL_SetError(SDL_PRINTF_FORMAT_STRING const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    const SdlLibrary* l = Loaded();
    return l ? l->setError("%s", text) : -1;
}

}  // extern "C"
