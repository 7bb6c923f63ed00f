// Libraries the programs load on first use rather than before main(): each is
// mapped and relocated only by a process that needs it, and the symbols everything
// else resolves at start are not looked up past it. The *_lazy.cpp files define
// the functions the programs call; each forwards to the library, opened once.
//
// A shim lists its functions in a table of
//   X(return type, name, (parameters), (arguments), value when the library is missing)
// and expands it with the three macros below, inside a file that defines Loaded().
#pragma once

#include <dlfcn.h>

// Opens `soname`; on failure writes one diagnostic naming the library and
// `without` (what cannot work), and returns null.
void* OpenLazyLibrary(const char* soname, const char* without);

// The diagnostic for a library that opened but lacks a function.
void ReportIncompleteLibrary(const char* soname, const char* without);

template <typename F>
bool BindSymbol(void* handle, F& f, const char* name) {
    f = reinterpret_cast<F>(dlsym(handle, name));
    return f != nullptr;
}

// Opens `soname` and fills `Library` (a struct with `void* handle` and the
// function pointers) with `bindAll(library)`; an empty Library when either fails.
// Kept in a function-local static by the caller, so that it runs once.
template <typename Library, typename BindAll>
Library LoadLazyLibrary(const char* soname, const char* without, BindAll bindAll) {
    Library library;
    library.handle = OpenLazyLibrary(soname, without);
    if (library.handle && !bindAll(library)) {
        ReportIncompleteLibrary(soname, without);
        return Library();
    }
    return library;
}

#define VORUR_LAZY_MEMBER(R, name, params, args, fail) decltype(&::name) name = nullptr;
// Inside bindAll, whose parameter is `l`: `return true VORUR_..._FUNCTIONS(VORUR_LAZY_BIND);`
#define VORUR_LAZY_BIND(R, name, params, args, fail) &&BindSymbol(l.handle, l.name, #name)
#define VORUR_LAZY_FORWARD(R, name, params, args, fail)  \
    R name params {                                      \
        const auto* l = Loaded();                        \
        return l ? l->name args : static_cast<R>(fail);  \
    }
