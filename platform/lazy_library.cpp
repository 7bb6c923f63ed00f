#include "lazy_library.h"

#include <string>

#include "diagnostics.h"

void* OpenLazyLibrary(const char* soname, const char* without) {
    void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        Diagnose(std::string("cannot load ") + soname + ": " + without, why ? why : "");
    }
    return handle;
}

void ReportIncompleteLibrary(const char* soname, const char* without) {
    Diagnose(std::string(soname) + " lacks a function the programs call: " + without);
}
