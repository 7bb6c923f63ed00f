// libcurl, loaded when the first transfer needs it or ahead of it (PreloadCurl)
// rather than before main(): with its TLS, Kerberos and LDAP libraries it is the
// largest set of objects the programs map (see lazy_library.h). These are the
// libcurl functions the programs call; each forwards to the library, loaded once.
// Without the library they fail as libcurl does when it cannot start (no handle,
// CURLE_FAILED_INIT), and one diagnostic says why.
#define CURL_DISABLE_TYPECHECK  // the type-checking macros would rename what is defined here
#include <curl/curl.h>

#include <cstdarg>
#include <string>

#include "curl_driver.h"
#include "curl_lazy.h"
#include "diagnostics.h"
#include "lazy_library.h"

namespace {

constexpr const char* kLibrary = "libcurl.so.4";

struct CurlLibrary {
    void* handle = nullptr;
    CURLcode(*globalInit)(long) = nullptr;
    CURL*(*easyInit)() = nullptr;
    void(*easyCleanup)(CURL*) = nullptr;
    CURLcode(*easySetopt)(CURL*, CURLoption, ...) = nullptr;
    CURLcode(*easyGetinfo)(CURL*, CURLINFO, ...) = nullptr;
    const char*(*easyStrerror)(CURLcode) = nullptr;
    CURLM*(*multiInit)() = nullptr;
    CURLMcode(*multiCleanup)(CURLM*) = nullptr;
    CURLMcode(*multiAddHandle)(CURLM*, CURL*) = nullptr;
    CURLMcode(*multiRemoveHandle)(CURLM*, CURL*) = nullptr;
    CURLMcode(*multiPerform)(CURLM*, int*) = nullptr;
    CURLMcode(*multiPoll)(CURLM*, struct curl_waitfd[], unsigned int, int, int*) = nullptr;
    CURLMsg*(*multiInfoRead)(CURLM*, int*) = nullptr;
    struct curl_slist*(*slistAppend)(struct curl_slist*, const char*) = nullptr;
    void(*slistFreeAll)(struct curl_slist*) = nullptr;
};

const CurlLibrary& Library() {
    static const CurlLibrary library = [] {
        CurlLibrary l;
        l.handle = OpenLazyLibrary(kLibrary, "nothing can be downloaded or sent");
        if (!l.handle)
            return l;
        if (!(BindSymbol(l.handle, l.globalInit, "curl_global_init") && BindSymbol(l.handle, l.easyInit, "curl_easy_init") &&
              BindSymbol(l.handle, l.easyCleanup, "curl_easy_cleanup") &&
              BindSymbol(l.handle, l.easySetopt, "curl_easy_setopt") &&
              BindSymbol(l.handle, l.easyGetinfo, "curl_easy_getinfo") &&
              BindSymbol(l.handle, l.easyStrerror, "curl_easy_strerror") &&
              BindSymbol(l.handle, l.multiInit, "curl_multi_init") &&
              BindSymbol(l.handle, l.multiCleanup, "curl_multi_cleanup") &&
              BindSymbol(l.handle, l.multiAddHandle, "curl_multi_add_handle") &&
              BindSymbol(l.handle, l.multiRemoveHandle, "curl_multi_remove_handle") &&
              BindSymbol(l.handle, l.multiPerform, "curl_multi_perform") &&
              BindSymbol(l.handle, l.multiPoll, "curl_multi_poll") &&
              BindSymbol(l.handle, l.multiInfoRead, "curl_multi_info_read") &&
              BindSymbol(l.handle, l.slistAppend, "curl_slist_append") &&
              BindSymbol(l.handle, l.slistFreeAll, "curl_slist_free_all"))) {
            Diagnose(std::string(kLibrary) + " lacks a function the player calls (libcurl 7.66 or newer is needed)");
            l = CurlLibrary();
        }
        return l;
    }();
    return library;
}

const CurlLibrary* Loaded() {
    const CurlLibrary& l = Library();
    return l.handle ? &l : nullptr;
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

CURLcode curl_global_init(long flags) {
    const CurlLibrary* l = Loaded();
    return l ? l->globalInit(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init(void) {
    const CurlLibrary* l = Loaded();
    return l ? l->easyInit() : nullptr;
}

void curl_easy_cleanup(CURL* curl) {
    if (const CurlLibrary* l = Loaded())
        l->easyCleanup(curl);
}

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

const char* curl_easy_strerror(CURLcode code) {
    const CurlLibrary* l = Loaded();
    return l ? l->easyStrerror(code) : "libcurl could not be loaded";
}

CURLM* curl_multi_init(void) {
    const CurlLibrary* l = Loaded();
    return l ? l->multiInit() : nullptr;
}

CURLMcode curl_multi_cleanup(CURLM* multi) {
    const CurlLibrary* l = Loaded();
    return l ? l->multiCleanup(multi) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) {
    const CurlLibrary* l = Loaded();
    return l ? l->multiAddHandle(multi, easy) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
    const CurlLibrary* l = Loaded();
    return l ? l->multiRemoveHandle(multi, easy) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_perform(CURLM* multi, int* running) {
    const CurlLibrary* l = Loaded();
    return l ? l->multiPerform(multi, running) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_poll(CURLM* multi, struct curl_waitfd extra[], unsigned int count, int timeoutMs, int* ready) {
    const CurlLibrary* l = Loaded();
    return l ? l->multiPoll(multi, extra, count, timeoutMs, ready) : CURLM_BAD_HANDLE;
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) {
    const CurlLibrary* l = Loaded();
    return l ? l->multiInfoRead(multi, queued) : nullptr;
}

struct curl_slist* curl_slist_append(struct curl_slist* list, const char* text) {
    const CurlLibrary* l = Loaded();
    return l ? l->slistAppend(list, text) : nullptr;
}

void curl_slist_free_all(struct curl_slist* list) {
    if (const CurlLibrary* l = Loaded())
        l->slistFreeAll(list);
}

}  // extern "C"
