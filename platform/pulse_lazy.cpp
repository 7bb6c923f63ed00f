// libpulse, loaded when the mixer or a record stream first talks to the sound
// server (see lazy_library.h). The library and the dozen it brings (sndfile and
// its codecs among them) are otherwise mapped by every start, the simulated mixer's
// too. Without the library every constructor fails as libpulse's own do when the
// server cannot be reached: the callers already treat that as "no sound server".
#include <pulse/pulseaudio.h>
#include <pulse/thread-mainloop.h>

#include "lazy_library.h"

// X(return type, name, (parameters), (arguments), value when libpulse is missing)
#define VORUR_PULSE_FUNCTIONS(X) \
    X(pa_mainloop*, pa_mainloop_new, (), (), nullptr) \
    X(void, pa_mainloop_free, (pa_mainloop* m), (m), 0) \
    X(pa_mainloop_api*, pa_mainloop_get_api, (pa_mainloop* m), (m), nullptr) \
    X(int, pa_mainloop_prepare, (pa_mainloop* m, int timeout), (m, timeout), -1) \
    X(int, pa_mainloop_poll, (pa_mainloop* m), (m), -1) \
    X(int, pa_mainloop_dispatch, (pa_mainloop* m), (m), -1) \
    X(int, pa_mainloop_iterate, (pa_mainloop* m, int block, int* retval), (m, block, retval), -1) \
    X(pa_threaded_mainloop*, pa_threaded_mainloop_new, (), (), nullptr) \
    X(void, pa_threaded_mainloop_free, (pa_threaded_mainloop* m), (m), 0) \
    X(int, pa_threaded_mainloop_start, (pa_threaded_mainloop* m), (m), -1) \
    X(void, pa_threaded_mainloop_stop, (pa_threaded_mainloop* m), (m), 0) \
    X(void, pa_threaded_mainloop_lock, (pa_threaded_mainloop* m), (m), 0) \
    X(void, pa_threaded_mainloop_unlock, (pa_threaded_mainloop* m), (m), 0) \
    X(void, pa_threaded_mainloop_wait, (pa_threaded_mainloop* m), (m), 0) \
    X(void, pa_threaded_mainloop_signal, (pa_threaded_mainloop* m, int wait_for_accept), (m, wait_for_accept), 0) \
    X(pa_mainloop_api*, pa_threaded_mainloop_get_api, (pa_threaded_mainloop* m), (m), nullptr) \
    X(pa_proplist*, pa_proplist_new, (), (), nullptr) \
    X(void, pa_proplist_free, (pa_proplist* p), (p), 0) \
    X(int, pa_proplist_sets, (pa_proplist* p, const char* key, const char* value), (p, key, value), -1) \
    X(pa_context*, pa_context_new_with_proplist, (pa_mainloop_api* mainloop, const char* name, const pa_proplist* proplist), (mainloop, name, proplist), nullptr) \
    X(void, pa_context_unref, (pa_context* c), (c), 0) \
    X(int, pa_context_connect, (pa_context* c, const char* server, pa_context_flags_t flags, const pa_spawn_api* api), (c, server, flags, api), -1) \
    X(void, pa_context_disconnect, (pa_context* c), (c), 0) \
    X(pa_context_state_t, pa_context_get_state, (const pa_context* c), (c), PA_CONTEXT_FAILED) \
    X(void, pa_context_set_state_callback, (pa_context* c, pa_context_notify_cb_t cb, void* userdata), (c, cb, userdata), 0) \
    X(pa_operation*, pa_context_get_server_info, (pa_context* c, pa_server_info_cb_t cb, void* userdata), (c, cb, userdata), nullptr) \
    X(pa_operation*, pa_context_get_source_info_list, (pa_context* c, pa_source_info_cb_t cb, void* userdata), (c, cb, userdata), nullptr) \
    X(pa_operation*, pa_context_set_source_mute_by_name, (pa_context* c, const char* name, int mute, pa_context_success_cb_t cb, void* userdata), (c, name, mute, cb, userdata), nullptr) \
    X(pa_operation*, pa_context_set_source_volume_by_name, (pa_context* c, const char* name, const pa_cvolume* volume, pa_context_success_cb_t cb, void* userdata), (c, name, volume, cb, userdata), nullptr) \
    X(pa_operation_state_t, pa_operation_get_state, (const pa_operation* o), (o), PA_OPERATION_CANCELLED) \
    X(void, pa_operation_cancel, (pa_operation* o), (o), 0) \
    X(void, pa_operation_unref, (pa_operation* o), (o), 0) \
    X(pa_stream*, pa_stream_new_with_proplist, (pa_context* c, const char* name, const pa_sample_spec* ss, const pa_channel_map* map, pa_proplist* p), (c, name, ss, map, p), nullptr) \
    X(void, pa_stream_unref, (pa_stream* s), (s), 0) \
    X(int, pa_stream_connect_record, (pa_stream* s, const char* dev, const pa_buffer_attr* attr, pa_stream_flags_t flags), (s, dev, attr, flags), -1) \
    X(int, pa_stream_disconnect, (pa_stream* s), (s), -1) \
    X(pa_stream_state_t, pa_stream_get_state, (const pa_stream* p), (p), PA_STREAM_FAILED) \
    X(void, pa_stream_set_state_callback, (pa_stream* s, pa_stream_notify_cb_t cb, void* userdata), (s, cb, userdata), 0) \
    X(void, pa_stream_set_read_callback, (pa_stream* p, pa_stream_request_cb_t cb, void* userdata), (p, cb, userdata), 0) \
    X(pa_operation*, pa_stream_cork, (pa_stream* s, int b, pa_stream_success_cb_t cb, void* userdata), (s, b, cb, userdata), nullptr) \
    X(int, pa_stream_peek, (pa_stream* p, const void** data, size_t* nbytes), (p, data, nbytes), -1) \
    X(int, pa_stream_drop, (pa_stream* p), (p), -1) \
    X(size_t, pa_stream_readable_size, (const pa_stream* p), (p), size_t(-1)) \
    X(pa_channel_map*, pa_channel_map_init_auto, (pa_channel_map* m, unsigned channels, pa_channel_map_def_t def), (m, channels, def), nullptr) \
    X(pa_cvolume*, pa_cvolume_set, (pa_cvolume* a, unsigned channels, pa_volume_t v), (a, channels, v), nullptr) \
    X(pa_volume_t, pa_cvolume_max, (const pa_cvolume* a), (a), PA_VOLUME_MUTED) \
    X(struct timeval*, pa_gettimeofday, (struct timeval* tv), (tv), nullptr) \
    X(struct timeval*, pa_timeval_add, (struct timeval* tv, pa_usec_t v), (tv, v), nullptr)

namespace {

struct PulseLibrary {
    void* handle = nullptr;
    VORUR_PULSE_FUNCTIONS(VORUR_LAZY_MEMBER)
};

const PulseLibrary* Loaded() {
    static const PulseLibrary library = LoadLazyLibrary<PulseLibrary>(
        "libpulse.so.0", "no sound server can be used",
        [](PulseLibrary& l) { return true VORUR_PULSE_FUNCTIONS(VORUR_LAZY_BIND); });
    return library.handle ? &library : nullptr;
}

}  // namespace

extern "C" {
VORUR_PULSE_FUNCTIONS(VORUR_LAZY_FORWARD)
}  // extern "C"

void PreloadPulse() { Loaded(); }
