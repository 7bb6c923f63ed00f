// libcurl, loaded when the first transfer needs it or ahead of it (PreloadCurl)
// rather than before main(): with its TLS, Kerberos and LDAP libraries it is the
// largest set of objects the programs map (see lazy_library.h). These are the
// libcurl functions the programs call; each forwards to the library, loaded once.
// Without the library they fail as libcurl does when it cannot start (no handle,
// CURLE_FAILED_INIT), and one diagnostic says why.
#define CURL_DISABLE_TYPECHECK  // the type-checking macros would rename what is defined here
#include <curl/curl.h>

#include <cstdarg>

#include "curl_driver.h"
#include "curl_lazy.h"
#include "lazy_library.h"

// X(return type, name, (parameters), (arguments), value when libcurl is missing);
// curl_easy_setopt and curl_easy_getinfo, variadic, are defined below.
#define VORUR_CURL_FUNCTIONS(X)                                                                                  \
    X(CURLcode, curl_global_init, (long flags), (flags), CURLE_FAILED_INIT)                                      \
    X(CURL*, curl_easy_init, (void), (), nullptr)                                                                \
    X(void, curl_easy_cleanup, (CURL * curl), (curl), 0)                                                         \
    X(const char*, curl_easy_strerror, (CURLcode code), (code), "libcurl could not be loaded")                   \
    X(CURLM*, curl_multi_init, (void), (), nullptr)                                                              \
    X(CURLMcode, curl_multi_cleanup, (CURLM * multi), (multi), CURLM_BAD_HANDLE)                                 \
    X(CURLMcode, curl_multi_add_handle, (CURLM * multi, CURL* easy), (multi, easy), CURLM_BAD_HANDLE)            \
    X(CURLMcode, curl_multi_remove_handle, (CURLM * multi, CURL* easy), (multi, easy), CURLM_BAD_HANDLE)         \
    X(CURLMcode, curl_multi_perform, (CURLM * multi, int* running), (multi, running), CURLM_BAD_HANDLE)          \
    X(CURLMcode, curl_multi_poll,                                                                                \
      (CURLM * multi, struct curl_waitfd extra[], unsigned int count, int timeoutMs, int* ready),                \
      (multi, extra, count, timeoutMs, ready), CURLM_BAD_HANDLE)                                                 \
    X(CURLMsg*, curl_multi_info_read, (CURLM * multi, int* queued), (multi, queued), nullptr)                    \
    X(struct curl_slist*, curl_slist_append, (struct curl_slist * list, const char* text), (list, text), nullptr) \
    X(void, curl_slist_free_all, (struct curl_slist * list), (list), 0)

namespace {

struct CurlLibrary {
    void* handle = nullptr;
    VORUR_CURL_FUNCTIONS(VORUR_LAZY_MEMBER)
    decltype(&::curl_easy_setopt) easySetopt = nullptr;
    decltype(&::curl_easy_getinfo) easyGetinfo = nullptr;
};

const CurlLibrary* Loaded() {
    static const CurlLibrary library = LoadLazyLibrary<CurlLibrary>(
        "libcurl.so.4", "nothing can be downloaded or sent", [](CurlLibrary& l) {
            return true VORUR_CURL_FUNCTIONS(VORUR_LAZY_BIND) &&
                   BindSymbol(l.handle, l.easySetopt, "curl_easy_setopt") &&
                   BindSymbol(l.handle, l.easyGetinfo, "curl_easy_getinfo");
        });
    return library.handle ? &library : nullptr;
}

}  // namespace

void PreloadCurl() {
    const CurlLibrary* l = Loaded();
    if (!l)
        return;
    // The global set-up (TLS among it) comes with it where libcurl says that it
    // is safe on any thread; otherwise it waits for the first transfer.
    using VersionInfo = curl_version_info_data* (*)(CURLversion);
    auto versionInfo = reinterpret_cast<VersionInfo>(dlsym(l->handle, "curl_version_info"));
    const curl_version_info_data* info = versionInfo ? versionInfo(CURLVERSION_NOW) : nullptr;
    if (info && (info->features & CURL_VERSION_THREADSAFE))
        netdetail::EnsureCurlGlobal();
}

extern "C" {

VORUR_CURL_FUNCTIONS(VORUR_LAZY_FORWARD)

// The option's number says the type of its one argument, as in libcurl itself.
CURLcode curl_easy_setopt(CURL* curl, CURLoption option, ...) {
    const CurlLibrary* l = Loaded();
    if (!l)
        return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, option);
    CURLcode code;
    if (option < CURLOPTTYPE_OBJECTPOINT)
        code = l->easySetopt(curl, option, va_arg(args, long));
    else if (option < CURLOPTTYPE_OFF_T)
        code = l->easySetopt(curl, option, va_arg(args, void*));  // data and function pointers alike
    else if (option < CURLOPTTYPE_BLOB)
        code = l->easySetopt(curl, option, va_arg(args, curl_off_t));
    else
        code = l->easySetopt(curl, option, va_arg(args, void*));
    va_end(args);
    return code;
}

CURLcode curl_easy_getinfo(CURL* curl, CURLINFO info, ...) {
    const CurlLibrary* l = Loaded();
    if (!l)
        return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, info);
    void* out = va_arg(args, void*);  // always where to put the answer
    va_end(args);
    return l->easyGetinfo(curl, info, out);
}

}  // extern "C"
