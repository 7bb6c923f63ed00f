// Wave-in over a source of the sound server (PulseAudio, or PipeWire's PulseAudio
// service), through a record stream of this player's own: the source that the
// capture route names, or the server's default source. Nothing of the server's
// settings is touched; the stream ends with the recording.
//
// A server that goes away while recording (a restart, a crash) is looked for again
// until it is back, and the time it was away goes into the recording as silence;
// one that stays away, or is still away when the capture stops, marks the device
// as failed. A server that hangs costs the capture thread, and the window that
// waits for it, one short time-out.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "capture_route.h"
#include "wavein.h"

namespace {

using Clock = std::chrono::steady_clock;

// Every wait for the server ends after this. The window waits for the capture
// thread's open, start and stop, so a server that hangs must not hold it longer.
constexpr pa_usec_t kServerTimeout = 1 * PA_USEC_PER_SEC;
// One capture buffer: the server hands sound over about every 23 ms.
constexpr uint32_t kFragmentBytes = 4096;
// A server that went away is looked for this often, each attempt given this long,
// and for this long in all before the recording counts as failed.
constexpr pa_usec_t kRetryEvery = 250 * PA_USEC_PER_MSEC;
constexpr auto kAttemptFor = std::chrono::seconds(2);
constexpr auto kRecoverFor = std::chrono::seconds(10);

class CPulseWaveIn : public CQueuedWaveInDevice {
public:
    ~CPulseWaveIn() override {
        CloseDevice();
        ReleaseQueue();
    }

protected:
    bool IsDeviceOpen() const override { return m_loop != nullptr; }

    MMRESULT OpenDevice(UINT, const WAVEFORMATEX& format) override {
        m_source = GetCaptureRoute().source;
        m_spec = {PA_SAMPLE_S16LE, format.nSamplesPerSec, static_cast<uint8_t>(format.nChannels)};
        m_timeline.SetFormat(format.nSamplesPerSec, 2u * format.nChannels);
        MMRESULT result = Connect();
        if (result != MMSYSERR_NOERROR)
            CloseDevice();
        return result;
    }

    bool RunDevice(bool run) override { return Cork(!run); }

    void CloseDevice() override {
        if (!m_loop)
            return;
        pa_threaded_mainloop_lock(m_loop);
        m_opened = false;
        m_lost = false;
        StopRetryingLocked();
        DropConnectionLocked();
        pa_threaded_mainloop_unlock(m_loop);
        // No callback runs after this.
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
    }

private:
    MMRESULT Connect() {
        m_loop = pa_threaded_mainloop_new();
        if (!m_loop || pa_threaded_mainloop_start(m_loop) < 0)
            return MMSYSERR_NODRIVER;
        // A server that just let a call time out is not waited for again.
        if (ServerSeemsHung())
            return MMSYSERR_NODRIVER;
        pa_threaded_mainloop_lock(m_loop);
        MMRESULT result = ConnectLocked();
        pa_threaded_mainloop_unlock(m_loop);
        return result;
    }

    MMRESULT ConnectLocked() {
        m_running = false;
        m_corked = true;
        if (!StartContextLocked())
            return MMSYSERR_NODRIVER;
        Wait([this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) ||
                             pa_context_get_state(m_context) == PA_CONTEXT_READY; });
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY)
            return MMSYSERR_NODRIVER;
        if (!StartStreamLocked())
            return m_stream ? MMSYSERR_BADDEVICEID : MMSYSERR_NOMEM;
        Wait([this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)) ||
                             pa_stream_get_state(m_stream) == PA_STREAM_READY; });
        if (pa_stream_get_state(m_stream) != PA_STREAM_READY)
            return MMSYSERR_BADDEVICEID;
        m_opened = true;
        return MMSYSERR_NOERROR;
    }

    // With the loop locked: a new context, connecting. False when it cannot even begin.
    bool StartContextLocked() {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Vorur_Ozudiz");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "Vorur_Ozudiz.capture");
        m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Vorur_Ozudiz", props);
        pa_proplist_free(props);
        if (!m_context)
            return false;
        pa_context_set_state_callback(m_context, &CPulseWaveIn::OnContextState, this);
        // No server of our own: a desktop without one has no microphone either.
        return pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }

    // With the loop locked and the context ready: a new record stream, connecting,
    // running or paused as the capture is.
    bool StartStreamLocked() {
        pa_channel_map map;
        pa_channel_map_init_auto(&map, m_spec.channels, PA_CHANNEL_MAP_DEFAULT);
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Recording");
        m_stream = pa_stream_new_with_proplist(m_context, "Recording", &m_spec, &map, props);
        pa_proplist_free(props);
        if (!m_stream)
            return false;
        pa_stream_set_state_callback(m_stream, &CPulseWaveIn::OnStreamState, this);
        pa_stream_set_read_callback(m_stream, &CPulseWaveIn::OnRead, this);
        pa_buffer_attr attr;
        std::memset(&attr, 0xff, sizeof attr);
        // The server holds no more than the wave-in backlog does.
        attr.maxlength = static_cast<uint32_t>(CWaveInBufferQueue::kBacklogBytes);
        attr.fragsize = kFragmentBytes;
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | (m_running ? 0 : PA_STREAM_START_CORKED));
        m_corked = !m_running;
        const char* source = m_source.empty() ? nullptr : m_source.c_str();
        return pa_stream_connect_record(m_stream, source, &attr, flags) >= 0;
    }

    // With the loop locked: the stream and the context go, without a callback.
    void DropConnectionLocked() {
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
    }

    // Pauses or resumes the stream; false when the server did not confirm in time.
    bool Cork(bool cork) {
        pa_threaded_mainloop_lock(m_loop);
        const bool wasRunning = m_running;
        m_running = !cork;
        // The recording's timeline begins when capture does.
        if (!cork)
            m_timeline.Start(Clock::now());
        bool ok = false;
        if (m_lost) {
            // Stopped while the server is away: the rest of the run was not recorded.
            if (cork && wasRunning)
                MarkFailed();
            // A stream that comes back runs or pauses as asked now.
            ok = true;
        } else if (m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY) {
            if (cork == m_corked) {
                ok = true;
            } else if (m_hung || ServerSeemsHung()) {
                // Asked for all the same, but not waited for again.
                if (pa_operation* op = pa_stream_cork(m_stream, cork ? 1 : 0, nullptr, nullptr))
                    pa_operation_unref(op);
            } else {
                m_success = -1;
                pa_operation* op = pa_stream_cork(m_stream, cork ? 1 : 0, &CPulseWaveIn::OnSuccess, this);
                if (op) {
                    Wait([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
                    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
                        pa_operation_cancel(op);
                    pa_operation_unref(op);
                    ok = m_success == 1;
                    if (ok)
                        m_corked = cork;
                }
            }
        }
        pa_threaded_mainloop_unlock(m_loop);
        return ok;
    }

    // With the loop locked: waits until `done` holds or the server time-out passes.
    // A time-out marks the server as hung.
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
        if (m_timedOut && !done()) {
            m_hung = true;
            NoteServerHung();
        } else {
            NoteServerAnswered();
        }
    }

    static void OnTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
        auto* self = static_cast<CPulseWaveIn*>(userdata);
        self->m_timedOut = true;
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    // --- a server that went away ---------------------------------------------

    static void OnContextState(pa_context* context, void* userdata) {
        auto* self = static_cast<CPulseWaveIn*>(userdata);
        pa_context_state_t state = pa_context_get_state(context);
        if (self->m_lost && state == PA_CONTEXT_READY && !self->m_stream) {
            // Back: the stream as before, on the same source.
            if (!self->StartStreamLocked())
                self->m_attemptFailed = true;
        } else if (!PA_CONTEXT_IS_GOOD(state)) {
            self->NoteLostLocked();
        }
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    static void OnStreamState(pa_stream* stream, void* userdata) {
        auto* self = static_cast<CPulseWaveIn*>(userdata);
        pa_stream_state_t state = pa_stream_get_state(stream);
        if (self->m_lost && state == PA_STREAM_READY)
            self->RecoveredLocked();
        else if (!PA_STREAM_IS_GOOD(state))
            self->NoteLostLocked();
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    // On the loop's thread: the stream or its server is gone (or an attempt to get
    // them back failed). The connection is dropped and made anew from the timer,
    // not from inside the failing object's own callback.
    void NoteLostLocked() {
        if (!m_opened)
            return;  // an open in progress sees the failure itself
        m_attemptFailed = true;
        if (!m_lost) {
            m_lost = true;
            m_lostAt = Clock::now();
            m_attemptAt = m_lostAt;
            WriteGapLocked(m_lostAt);
        }
        if (!m_retry) {
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
            timeval when;
            pa_gettimeofday(&when);
            m_retry = api->time_new(api, &when, &CPulseWaveIn::OnRetry, this);
        }
    }

    static void OnRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata) {
        auto* self = static_cast<CPulseWaveIn*>(userdata);
        if (!self->RetryLocked()) {
            self->StopRetryingLocked();
            return;
        }
        timeval when;
        pa_timeval_add(pa_gettimeofday(&when), kRetryEvery);
        api->time_restart(event, &when);
    }

    // One step of getting the server back; false when there is nothing more to do.
    bool RetryLocked() {
        if (!m_lost)
            return false;
        Clock::time_point now = Clock::now();
        WriteGapLocked(now);
        if (now - m_lostAt >= kRecoverFor) {
            // Gone for good: the recording ends here.
            m_lost = false;
            m_opened = false;
            DropConnectionLocked();
            MarkFailed();
            return false;
        }
        if (m_attemptFailed || !m_context || now - m_attemptAt >= kAttemptFor) {
            DropConnectionLocked();
            m_attemptFailed = false;
            m_attemptAt = now;
            if (!StartContextLocked())
                m_attemptFailed = true;
        }
        return true;
    }

    // On the loop's thread: the new stream runs; the time the server was away goes
    // into the recording as silence.
    void RecoveredLocked() {
        Clock::time_point now = Clock::now();
        WriteGapLocked(now);
        m_lost = false;
        StopRetryingLocked();
    }

    void StopRetryingLocked() {
        if (!m_retry)
            return;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        api->time_free(m_retry);
        m_retry = nullptr;
    }

    // The silence that brings the recording up to `now`, while capture runs.
    void WriteGapLocked(Clock::time_point now) {
        size_t bytes = m_timeline.SilenceDue(now);
        if (!m_running || bytes == 0)
            return;
        m_chunk.assign(bytes, 0);
        m_buffers.Write(m_chunk.data(), m_chunk.size());
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
        if (!chunk.empty()) {
            self->m_timeline.Delivered(chunk.size());
            self->m_buffers.Write(chunk.data(), chunk.size());
        }
    }

    // Everything below is used with the loop locked, or on the loop's own thread.
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    bool m_timedOut = false;
    int m_success = -1;
    std::vector<uint8_t> m_chunk;

    // What a reconnection opens again.
    std::string m_source;
    pa_sample_spec m_spec{};
    bool m_opened = false;   // the open succeeded: a loss is recovered from
    bool m_running = false;  // capture runs: the stream is to be uncorked
    bool m_corked = true;    // as the server last confirmed
    bool m_hung = false;     // a wait timed out: the server is not waited for again
    bool m_lost = false;     // the server went away and is being looked for
    bool m_attemptFailed = false;
    Clock::time_point m_lostAt{};
    Clock::time_point m_attemptAt{};
    pa_time_event* m_retry = nullptr;
    CCaptureTimeline m_timeline;
};

}  // namespace

std::unique_ptr<IWaveInDevice> CreatePulseWaveInDevice() { return std::make_unique<CPulseWaveIn>(); }
