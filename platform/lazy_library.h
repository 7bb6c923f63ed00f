// Libraries the programs load on first use rather than before main(): each is
// mapped and relocated only by a process that needs it, and the symbols everything
// else resolves at start are not looked up past it. The *_lazy.cpp files define
// the functions the programs call; each forwards to the library, opened once.
#pragma once

#include <dlfcn.h>

// Opens `soname`; on failure writes one diagnostic naming the library and
// `without` (what cannot work), and returns null. Callers keep the handle in a
// function-local static, so that this runs once.
void* OpenLazyLibrary(const char* soname, const char* without);

template <typename F>
bool BindSymbol(void* handle, F& f, const char* name) {
    f = reinterpret_cast<F>(dlsym(handle, name));
    return f != nullptr;
}

// Loads libpulse now, on the calling thread (pulse_lazy.cpp).
void PreloadPulse();
