// Wave-in over a source of the sound server (PulseAudio, or PipeWire's PulseAudio
// service), through a record stream of this player's own: the source that the
// capture route names, or the server's default source. Nothing of the server's
// settings is touched; the stream ends with the recording.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "capture_route.h"
#include "wavein.h"

namespace {

// Every wait for the server ends after this: a server that went away or hangs must
// not hang the recording.
constexpr pa_usec_t kServerTimeout = 5 * PA_USEC_PER_SEC;
// One capture buffer: the server hands sound over about every 23 ms.
constexpr uint32_t kFragmentBytes = 4096;

class CPulseWaveIn : public CQueuedWaveInDevice {
public:
    ~CPulseWaveIn() override {
        CloseDevice();
        ReleaseQueue();
    }

protected:
    bool IsDeviceOpen() const override { return m_loop != nullptr; }

    MMRESULT OpenDevice(UINT, const WAVEFORMATEX& format) override {
        MMRESULT result = Connect(GetCaptureRoute().source, format);
        if (result != MMSYSERR_NOERROR)
            CloseDevice();
        return result;
    }

    bool RunDevice(bool run) override { return Cork(!run); }

    void CloseDevice() override {
        if (!m_loop)
            return;
        pa_threaded_mainloop_lock(m_loop);
        if (m_stream) {
            pa_stream_set_read_callback(m_stream, nullptr, nullptr);
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        pa_threaded_mainloop_unlock(m_loop);
        // No callback runs after this.
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
    }

private:
    MMRESULT Connect(const std::string& source, const WAVEFORMATEX& format) {
        m_loop = pa_threaded_mainloop_new();
        if (!m_loop || pa_threaded_mainloop_start(m_loop) < 0)
            return MMSYSERR_NODRIVER;
        pa_threaded_mainloop_lock(m_loop);
        MMRESULT result = ConnectLocked(source, format);
        pa_threaded_mainloop_unlock(m_loop);
        return result;
    }

    MMRESULT ConnectLocked(const std::string& source, const WAVEFORMATEX& format) {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Vorur_Ozudiz");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "Vorur_Ozudiz.capture");
        m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Vorur_Ozudiz", props);
        pa_proplist_free(props);
        if (!m_context)
            return MMSYSERR_NODRIVER;
        pa_context_set_state_callback(m_context, &CPulseWaveIn::OnStateChange, this);
        // No server of our own: a desktop without one has no microphone either.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return MMSYSERR_NODRIVER;
        Wait([this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) ||
                             pa_context_get_state(m_context) == PA_CONTEXT_READY; });
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY)
            return MMSYSERR_NODRIVER;

        pa_sample_spec spec{PA_SAMPLE_S16LE, format.nSamplesPerSec, static_cast<uint8_t>(format.nChannels)};
        pa_channel_map map;
        pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Recording");
        m_stream = pa_stream_new_with_proplist(m_context, "Recording", &spec, &map, props);
        pa_proplist_free(props);
        if (!m_stream)
            return MMSYSERR_NOMEM;
        pa_stream_set_state_callback(m_stream, &CPulseWaveIn::OnStateChange, this);
        pa_stream_set_read_callback(m_stream, &CPulseWaveIn::OnRead, this);
        pa_buffer_attr attr;
        std::memset(&attr, 0xff, sizeof attr);
        // The server holds no more than the wave-in backlog does.
        attr.maxlength = static_cast<uint32_t>(CWaveInBufferQueue::kBacklogBytes);
        attr.fragsize = kFragmentBytes;
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_record(m_stream, source.empty() ? nullptr : source.c_str(), &attr, flags) < 0)
            return MMSYSERR_BADDEVICEID;
        Wait([this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)) ||
                             pa_stream_get_state(m_stream) == PA_STREAM_READY; });
        return pa_stream_get_state(m_stream) == PA_STREAM_READY ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
    }

    // Pauses or resumes the stream; false when the server did not confirm in time.
    bool Cork(bool cork) {
        pa_threaded_mainloop_lock(m_loop);
        bool ok = false;
        if (m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY) {
            m_success = -1;
            pa_operation* op = pa_stream_cork(m_stream, cork ? 1 : 0, &CPulseWaveIn::OnSuccess, this);
            if (op) {
                Wait([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
                if (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
                    pa_operation_cancel(op);
                pa_operation_unref(op);
                ok = m_success == 1;
            }
        }
        pa_threaded_mainloop_unlock(m_loop);
        return ok;
    }

    // With the loop locked: waits until `done` holds or the server time-out passes.
    template <typename Done>
    void Wait(Done done) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        timeval when;
        pa_timeval_add(pa_gettimeofday(&when), kServerTimeout);
        m_timedOut = false;
        pa_time_event* timer = api->time_new(api, &when, &CPulseWaveIn::OnTimeout, this);
        while (!done() && !m_timedOut)
            pa_threaded_mainloop_wait(m_loop);
        if (timer)
            api->time_free(timer);
    }

    static void OnTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
        auto* self = static_cast<CPulseWaveIn*>(userdata);
        self->m_timedOut = true;
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    static void OnStateChange(pa_context*, void* userdata) {
        pa_threaded_mainloop_signal(static_cast<CPulseWaveIn*>(userdata)->m_loop, 0);
    }
    static void OnStateChange(pa_stream*, void* userdata) {
        pa_threaded_mainloop_signal(static_cast<CPulseWaveIn*>(userdata)->m_loop, 0);
    }
    static void OnSuccess(pa_stream*, int success, void* userdata) {
        auto* self = static_cast<CPulseWaveIn*>(userdata);
        self->m_success = success ? 1 : 0;
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    // On the loop's thread: everything the server has sent goes on in one piece, so
    // that a block of several seconds is mixed and queued as the one block it is.
    static void OnRead(pa_stream* stream, size_t, void* userdata) {
        auto* self = static_cast<CPulseWaveIn*>(userdata);
        std::vector<uint8_t>& chunk = self->m_chunk;
        chunk.clear();
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                break;
            // A hole in the stream is silence of its length.
            if (data)
                chunk.insert(chunk.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + bytes);
            else
                chunk.insert(chunk.end(), bytes, 0);
            pa_stream_drop(stream);
            if (chunk.size() >= CWaveInBufferQueue::kBacklogBytes)
                break;
        }
        if (!chunk.empty())
            self->m_buffers.Write(chunk.data(), chunk.size());
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    bool m_timedOut = false;
    int m_success = -1;
    std::vector<uint8_t> m_chunk;
};

}  // namespace

std::unique_ptr<IWaveInDevice> CreatePulseWaveInDevice() { return std::make_unique<CPulseWaveIn>(); }
