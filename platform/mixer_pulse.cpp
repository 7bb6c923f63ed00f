// The mixer layer over a PulseAudio server (PipeWire desktops serve the same
// protocol). mixer_pulse.md describes the mapping.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "capture_route.h"
#include "mixer_card.h"

namespace {

// The window waits for every call: a server that hangs holds it no longer than this,
// and once (see ServerSeemsHung).
constexpr auto kCallTimeout = std::chrono::seconds(1);

struct PulseSource {
    uint32_t index = PA_INVALID_INDEX;
    std::string name;
    std::string description;
    uint32_t monitorOfSink = PA_INVALID_INDEX;
    uint8_t channels = 2;
    pa_volume_t volume = PA_VOLUME_NORM;  // the loudest channel
    bool mute = false;
};

// The name of the playback-mix line of every device.
constexpr const char* kPlaybackMixName = "Playback mix";

// Where a line's sound comes from.
struct PulseTarget {
    std::string source;     // the PulseAudio source behind the line
    bool playback = false;  // the playback-mix line: that source with what the player plays
};

struct OpenMixer {
    MixerCard card{.destinationName = "Recording source", .selectorName = "Recording source",
                   .lineNamedControls = false, .uniformVolume = true, .lines = {}};
    std::vector<PulseTarget> targets;  // one per line

    void AddLine(DWORD type, const std::string& name, const std::string& source, bool playback, DWORD channels) {
        card.lines.push_back({.type = type, .name = name, .channels = channels, .minimum = PA_VOLUME_MUTED,
                              .maximum = PA_VOLUME_NORM});
        targets.push_back({source, playback});
    }
};

std::string Text(const char* s) { return s ? s : ""; }

class CPulseMixer : public CMixerCardSystem {
public:
    ~CPulseMixer() override { Disconnect(); }

    UINT WaveInGetNumDevs() override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_devices.clear();
        std::vector<PulseSource> sources;
        std::string defaultSink, defaultSource;
        if (!ListSources(sources) || !ServerDefaults(defaultSink, defaultSource))
            return 0;
        // The microphone the desktop has chosen comes first, so that it is the one
        // the recording mixer takes.
        std::stable_partition(sources.begin(), sources.end(),
                              [&](const PulseSource& s) { return s.name == defaultSource; });
        for (const PulseSource& source : sources)
            if (source.monitorOfSink == PA_INVALID_INDEX)
                m_devices.push_back(source);
        return static_cast<UINT>(m_devices.size());
    }

    MMRESULT WaveInGetDevCaps(UINT deviceId, WAVEINCAPS& caps) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (deviceId >= m_devices.size())
            return MMSYSERR_BADDEVICEID;
        const PulseSource& source = m_devices[deviceId];
        caps.szPname = (source.description.empty() ? source.name : source.description).substr(0, MAXPNAMELEN - 1);
        // The server converts any source to 44.1 kHz stereo 16-bit.
        caps.dwFormats = WAVE_FORMAT_4S16;
        caps.wChannels = source.channels;
        return MMSYSERR_NOERROR;
    }

    MMRESULT MixerOpen(HMIXER* mixer, UINT waveInDeviceId) override {
        if (!mixer)
            return MMSYSERR_INVALPARAM;
        std::lock_guard<std::mutex> guard(m_lock);
        *mixer = 0;
        if (waveInDeviceId >= m_devices.size())
            return MMSYSERR_BADDEVICEID;
        PulseSource source;
        if (!SourceByName(m_devices[waveInDeviceId].name, source))
            return MMSYSERR_NODRIVER;
        // The microphone is the source as the desktop has it (its active port, volume
        // and mute); the playback mix is that microphone with what this player plays,
        // mixed in the process.
        OpenMixer open;
        open.AddLine(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, source.description.empty() ? source.name : source.description,
                     source.name, false, source.channels);
        open.AddLine(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, kPlaybackMixName, source.name, true, 2);
        *mixer = m_open.Add(std::move(open));
        return MMSYSERR_NOERROR;
    }

    MMRESULT MixerClose(HMIXER mixer) override {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_open.Remove(mixer) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    }

    // Every control here takes its value from the first word: a write without one
    // is refused before the control is looked at.
    MMRESULT SetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                              const std::vector<DWORD>& values) override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (values.empty() && channels != 0 && Card(mixer))
                return MMSYSERR_INVALPARAM;
        }
        return CMixerCardSystem::SetControlValues(mixer, controlId, channels, items, values);
    }

protected:
    const MixerCard* Card(HMIXER mixer) override {
        OpenMixer* open = m_open.Find(mixer);
        return open ? &open->card : nullptr;
    }

    MMRESULT ReadSelector(HMIXER mixer, DWORD channels, std::vector<DWORD>& values) override {
        const OpenMixer& open = *m_open.Find(mixer);
        CaptureRoute route = GetCaptureRoute();
        std::string source = route.source;
        if (source.empty()) {
            std::string defaultSink;
            if (!ServerDefaults(defaultSink, source))
                return MMSYSERR_ERROR;
        }
        for (DWORD ch = 0; ch < channels; ++ch)
            for (const PulseTarget& target : open.targets)
                values.push_back(target.source == source && target.playback == route.mixPlayback ? 1 : 0);
        return MMSYSERR_NOERROR;
    }

    // Chooses what this player's own capture stream records; the server's default
    // source and ports stay as the desktop has them.
    MMRESULT WriteSelector(HMIXER mixer, DWORD, const std::vector<DWORD>& values) override {
        const OpenMixer& open = *m_open.Find(mixer);
        if (values.size() < open.targets.size())
            return MMSYSERR_INVALPARAM;
        CaptureRoute route = GetCaptureRoute();
        auto inUse = [&](const PulseTarget& t) { return t.source == route.source && t.playback == route.mixPlayback; };
        const PulseTarget* chosen = nullptr;
        for (size_t i = 0; i < open.targets.size(); ++i) {
            // With several set, a newly chosen line wins over the one already in use.
            if (values[i] && (!chosen || inUse(*chosen)))
                chosen = &open.targets[i];
        }
        if (chosen)
            SetCaptureSource(chosen->source, chosen->playback);
        return MMSYSERR_NOERROR;
    }

    MMRESULT ReadLevel(HMIXER mixer, MixerLevel level, DWORD channels, std::vector<DWORD>& values) override {
        if (m_open.Find(mixer)->targets[level.line].playback) {
            values.assign(channels, level.volume ? GetPlaybackMixVolume() : (GetPlaybackMixMute() ? 1 : 0));
            return MMSYSERR_NOERROR;
        }
        PulseSource source;
        if (!SourceByName(m_open.Find(mixer)->targets[level.line].source, source))
            return MMSYSERR_ERROR;
        DWORD value = level.volume ? std::min<DWORD>(source.volume, PA_VOLUME_NORM) : (source.mute ? 1 : 0);
        values.assign(channels, value);
        return MMSYSERR_NOERROR;
    }

    MMRESULT WriteLevel(HMIXER mixer, MixerLevel level, DWORD, const std::vector<DWORD>& values) override {
        const OpenMixer& open = *m_open.Find(mixer);
        const std::string& source = open.targets[level.line].source;
        if (open.targets[level.line].playback) {
            // How loud the page sound is in the playback mix: this player's own.
            if (level.volume && values[0] > PA_VOLUME_NORM)
                return MIXERR_INVALVALUE;
            if (level.volume)
                SetPlaybackMixVolume(values[0]);
            else
                SetPlaybackMixMute(values[0] != 0);
            return MMSYSERR_NOERROR;
        }
        if (!Connect())
            return MMSYSERR_NODRIVER;
        m_success = false;
        bool ok;
        if (level.volume) {
            if (values[0] > PA_VOLUME_NORM)
                return MIXERR_INVALVALUE;
            pa_cvolume volume;
            pa_cvolume_set(&volume, static_cast<unsigned>(std::max<DWORD>(open.card.lines[level.line].channels, 1)),
                           values[0]);
            ok = Run(pa_context_set_source_volume_by_name(m_context, source.c_str(), &volume, &CPulseMixer::OnSuccess,
                                                          this));
        } else {
            ok = Run(pa_context_set_source_mute_by_name(m_context, source.c_str(), values[0] ? 1 : 0,
                                                        &CPulseMixer::OnSuccess, this));
        }
        return ok && m_success ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }

private:
    // --- connection --------------------------------------------------------

    bool Connect() {
        if (m_context) {
            // A server that went away (a restart of the sound server) only shows in
            // the context's state once its pending events have been handled.
            pa_mainloop_iterate(m_loop, 0, nullptr);
            if (pa_context_get_state(m_context) == PA_CONTEXT_READY)
                return true;
        }
        Disconnect();
        m_loop = pa_mainloop_new();
        if (!m_loop)
            return false;
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Vorur_Ozudiz");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "Vorur_Ozudiz.mixer");
        m_context = pa_context_new_with_proplist(pa_mainloop_get_api(m_loop), "Vorur_Ozudiz", props);
        pa_proplist_free(props);
        if (!m_context || pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            Disconnect();
            return false;
        }
        bool ready = Iterate([this] {
            pa_context_state_t state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (!ready || pa_context_get_state(m_context) != PA_CONTEXT_READY) {
            Disconnect();
            return false;
        }
        return true;
    }

    void Disconnect() {
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        if (m_loop) {
            pa_mainloop_free(m_loop);
            m_loop = nullptr;
        }
    }

    // Runs the loop until `done` holds; false after the time-out, which marks the
    // server as hung, or at once while it is taken as hung.
    template <typename Done>
    bool Iterate(Done done) {
        auto deadline = std::chrono::steady_clock::now() + kCallTimeout;
        while (!done()) {
            if (ServerSeemsHung())
                return false;
            auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                NoteServerHung();
                return false;
            }
            if (pa_mainloop_prepare(m_loop, static_cast<int>(std::min<int64_t>(left.count(), 100000))) < 0 ||
                pa_mainloop_poll(m_loop) < 0 || pa_mainloop_dispatch(m_loop) < 0)
                return false;
        }
        NoteServerAnswered();
        return true;
    }

    // Waits for an operation; a server that does not answer in time drops the connection.
    bool Run(pa_operation* op) {
        if (!op)
            return false;
        bool ok = Iterate([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
        if (!ok)
            pa_operation_cancel(op);
        bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_unref(op);
        if (!ok)
            Disconnect();
        return done;
    }

    static void OnSuccess(pa_context*, int success, void* self) { static_cast<CPulseMixer*>(self)->m_success = success != 0; }

    // --- queries -----------------------------------------------------------

    static void OnSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
        auto* out = static_cast<std::vector<PulseSource>*>(userdata);
        if (eol || !info)
            return;
        PulseSource s;
        s.index = info->index;
        s.name = Text(info->name);
        s.description = Text(info->description);
        s.monitorOfSink = info->monitor_of_sink;
        s.channels = info->channel_map.channels ? info->channel_map.channels : info->sample_spec.channels;
        s.volume = pa_cvolume_max(&info->volume);
        s.mute = info->mute != 0;
        out->push_back(std::move(s));
    }

    struct Defaults {
        std::string sink, source;
    };
    static void OnServer(pa_context*, const pa_server_info* info, void* userdata) {
        auto* out = static_cast<Defaults*>(userdata);
        if (info) {
            out->sink = Text(info->default_sink_name);
            out->source = Text(info->default_source_name);
        }
    }

    bool ListSources(std::vector<PulseSource>& sources) {
        sources.clear();
        return Connect() && Run(pa_context_get_source_info_list(m_context, &CPulseMixer::OnSource, &sources));
    }

    bool SourceByName(const std::string& name, PulseSource& source) {
        std::vector<PulseSource> sources;
        if (!ListSources(sources))
            return false;
        for (PulseSource& s : sources) {
            if (s.name == name) {
                source = std::move(s);
                return true;
            }
        }
        return false;
    }

    bool ServerDefaults(std::string& sink, std::string& source) {
        Defaults d;
        if (!Connect() || !Run(pa_context_get_server_info(m_context, &CPulseMixer::OnServer, &d)))
            return false;
        sink = d.sink;
        source = d.source;
        return true;
    }

    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    bool m_success = false;
    std::vector<PulseSource> m_devices;
    MixerHandles<OpenMixer> m_open;
};

}  // namespace

IMixerSystem& GetPulseMixerSystem() {
    static CPulseMixer* pulse = new CPulseMixer();  // lives to the process's end
    return *pulse;
}
