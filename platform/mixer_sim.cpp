#include "mixer_sim.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "capture_route.h"
#include "mixer_card.h"

namespace {

// A line's values, kept beside its description in the card.
struct SimLineValues {
    std::vector<DWORD> volume;  // per channel
    DWORD mute = 0;
    DWORD initialSelected = 0;
    std::vector<DWORD> selected;  // per selector channel
};

struct SimCard {
    std::string name = "Sim Audio";
    DWORD formats = WAVE_FORMAT_4S16;
    bool canOpen = true;
    MixerCard mixer;                    // the lines' description
    std::vector<SimLineValues> values;  // one per line
};

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

DWORD Number(const std::string& s) { return static_cast<DWORD>(std::strtoul(s.c_str(), nullptr, 0)); }

DWORD LineType(const std::string& s) {
    if (s == "microphone")
        return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    if (s == "analog")
        return MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
    if (s == "waveout")
        return MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    if (s == "synthesizer")
        return MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER;
    return Number(s);
}

void AddLine(SimCard& card, const std::string& name, DWORD type, DWORD channels, DWORD volume, DWORD mute,
             DWORD selected) {
    card.mixer.lines.push_back({.type = type, .name = name, .channels = channels});
    card.values.push_back(
        {.volume = std::vector<DWORD>(channels, volume), .mute = mute, .initialSelected = selected, .selected = {}});
}

std::vector<SimCard> BuiltInCards() {
    SimCard card;
    AddLine(card, "Microphone", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, 49152, 1, 1);
    AddLine(card, "Line In", MIXERLINE_COMPONENTTYPE_SRC_ANALOG, 2, 32768, 0, 0);
    AddLine(card, "Stereo Mix", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, 32768, 0, 0);
    return {card};
}

std::vector<SimCard> ParseDescription(std::istream& in) {
    std::vector<SimCard> cards;
    enum { None, Device, Line } section = None;
    std::string raw;
    while (std::getline(in, raw)) {
        std::string text = Trim(raw.substr(0, raw.find('#')));
        if (text.empty())
            continue;
        if (text == "[device]") {
            cards.emplace_back();
            section = Device;
            continue;
        }
        if (text == "[line]") {
            if (cards.empty())
                cards.emplace_back();
            AddLine(cards.back(), "", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, 32768, 0, 0);
            section = Line;
            continue;
        }
        size_t eq = text.find('=');
        if (eq == std::string::npos || section == None)
            continue;
        std::string key = Trim(text.substr(0, eq));
        std::string value = Trim(text.substr(eq + 1));
        SimCard& card = cards.back();
        if (section == Device) {
            if (key == "name")
                card.name = value;
            else if (key == "formats")
                card.formats = Number(value);
            else if (key == "open")
                card.canOpen = Number(value) != 0;
            else if (key == "selector")
                card.mixer.selector = value == "mux"      ? MixerSelector::Mux
                                      : value == "single"   ? MixerSelector::Single
                                      : value == "multiple" ? MixerSelector::Multiple
                                                            : MixerSelector::None;
            else if (key == "uniform")
                card.mixer.uniform = Number(value) != 0;
            else if (key == "channels")
                card.mixer.channels = std::max<DWORD>(1, Number(value));
        } else {
            MixerCardLine& line = card.mixer.lines.back();
            SimLineValues& state = card.values.back();
            if (key == "name") {
                line.name = value;
            } else if (key == "type") {
                line.type = LineType(value);
            } else if (key == "channels") {
                line.channels = std::max<DWORD>(1, Number(value));
                state.volume.resize(line.channels, state.volume.empty() ? 0 : state.volume[0]);
            } else if (key == "volume") {
                if (value == "none") {
                    line.hasVolume = false;
                } else {
                    std::istringstream fields(value);
                    DWORD v = 0;
                    fields >> line.minimum >> line.maximum >> v;
                    state.volume.assign(line.channels, v);
                }
            } else if (key == "mute") {
                line.hasMute = value != "none";
                state.mute = line.hasMute ? Number(value) : 0;
            } else if (key == "selected") {
                state.initialSelected = Number(value) != 0;
            }
        }
    }
    return cards;
}

class CSimMixer : public CMixerCardSystem {
public:
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_log;
    }
    void ClearLog() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_log.clear();
    }
    void Reset() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_loaded = false;
        m_cards.clear();
        m_open.Clear();
    }
    bool LineState(const std::string& device, const std::string& lineName, SimLineState& state) {
        std::lock_guard<std::mutex> guard(m_lock);
        Load();
        for (const SimCard& card : m_cards) {
            if (card.name != device)
                continue;
            for (size_t i = 0; i < card.mixer.lines.size(); ++i) {
                const MixerCardLine& line = card.mixer.lines[i];
                if (line.name != lineName)
                    continue;
                state.volume = line.hasVolume ? card.values[i].volume : std::vector<DWORD>();
                state.mute = line.hasMute ? std::vector<DWORD>{card.values[i].mute} : std::vector<DWORD>();
                state.selected = card.values[i].selected;
                return true;
            }
        }
        return false;
    }

    UINT WaveInGetNumDevs() override {
        std::lock_guard<std::mutex> guard(m_lock);
        Load();
        return static_cast<UINT>(m_cards.size());
    }

    MMRESULT WaveInGetDevCaps(UINT deviceId, WAVEINCAPS& caps) override {
        std::lock_guard<std::mutex> guard(m_lock);
        Load();
        if (deviceId >= m_cards.size())
            return MMSYSERR_BADDEVICEID;
        const SimCard& card = m_cards[deviceId];
        caps.szPname = card.name.substr(0, MAXPNAMELEN - 1);
        caps.dwFormats = card.formats;
        caps.wChannels = 2;
        return MMSYSERR_NOERROR;
    }

    MMRESULT MixerOpen(HMIXER* mixer, UINT waveInDeviceId) override {
        if (!mixer)
            return MMSYSERR_INVALPARAM;
        std::lock_guard<std::mutex> guard(m_lock);
        Load();
        *mixer = 0;
        if (waveInDeviceId >= m_cards.size())
            return MMSYSERR_BADDEVICEID;
        if (!m_cards[waveInDeviceId].canOpen)
            return MMSYSERR_NODRIVER;
        *mixer = m_open.Add(waveInDeviceId);
        Append("open|" + m_cards[waveInDeviceId].name);
        return MMSYSERR_NOERROR;
    }

    MMRESULT MixerClose(HMIXER mixer) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Open(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        Append("close|" + card->name);
        m_open.Remove(mixer);
        return MMSYSERR_NOERROR;
    }

protected:
    const MixerCard* Card(HMIXER mixer) override {
        SimCard* card = Open(mixer);
        return card ? &card->mixer : nullptr;
    }

    MMRESULT ReadSelector(HMIXER mixer, DWORD channels, std::vector<DWORD>& values) override {
        const SimCard& card = *Open(mixer);
        if (channels > SelectorChannels(card.mixer))
            return MMSYSERR_INVALPARAM;
        for (DWORD ch = 0; ch < channels; ++ch)
            for (const SimLineValues& line : card.values)
                values.push_back(line.selected[ch]);
        return MMSYSERR_NOERROR;
    }

    MMRESULT WriteSelector(HMIXER mixer, DWORD channels, const std::vector<DWORD>& values) override {
        SimCard& card = *Open(mixer);
        DWORD n = static_cast<DWORD>(card.mixer.lines.size());
        if (channels > SelectorChannels(card.mixer) || values.size() < channels * n)
            return MMSYSERR_INVALPARAM;
        std::string entry = "select|" + card.name + "|";
        bool playback = false;
        for (DWORD item = 0; item < n; ++item) {
            std::vector<DWORD>& selected = card.values[item].selected;
            for (DWORD ch = 0; ch < channels; ++ch)
                selected[ch] = values[ch * n + item] ? 1 : 0;
            entry += (item ? "," : "") + card.mixer.lines[item].name + "=" + Joined(selected, channels);
            playback |= selected[0] && card.mixer.lines[item].type == MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
        }
        Append(entry);
        // The simulated card records through SDL's default device; what it plays is
        // mixed in by the player, as on a sound server.
        SetCaptureSource("", playback);
        return MMSYSERR_NOERROR;
    }

    MMRESULT ReadLevel(HMIXER mixer, MixerLevel level, DWORD channels, std::vector<DWORD>& values) override {
        const SimCard& card = *Open(mixer);
        const SimLineValues& line = card.values[level.line];
        if (!level.volume) {
            values.assign(channels, line.mute);
            return MMSYSERR_NOERROR;
        }
        if (channels > card.mixer.lines[level.line].channels)
            return MMSYSERR_INVALPARAM;
        values.assign(line.volume.begin(), line.volume.begin() + channels);
        return MMSYSERR_NOERROR;
    }

    MMRESULT WriteLevel(HMIXER mixer, MixerLevel level, DWORD channels, const std::vector<DWORD>& values) override {
        SimCard& card = *Open(mixer);
        const MixerCardLine& line = card.mixer.lines[level.line];
        SimLineValues& state = card.values[level.line];
        if (values.size() < channels)
            return MMSYSERR_INVALPARAM;
        if (!level.volume) {
            state.mute = values[0] ? 1 : 0;
            Append("mute|" + card.name + "|" + line.name + "|" + Joined(values, channels));
            return MMSYSERR_NOERROR;
        }
        if (channels > line.channels)
            return MMSYSERR_INVALPARAM;
        for (DWORD ch = 0; ch < channels; ++ch)
            if (values[ch] < line.minimum || values[ch] > line.maximum)
                return MIXERR_INVALVALUE;
        // One value serves every channel; otherwise channel by channel.
        for (DWORD ch = 0; ch < line.channels; ++ch)
            state.volume[ch] = channels == 1 ? values[0] : ch < channels ? values[ch] : state.volume[ch];
        Append("volume|" + card.name + "|" + line.name + "|" + Joined(values, channels));
        return MMSYSERR_NOERROR;
    }

private:
    static std::string Joined(const std::vector<DWORD>& values, DWORD count) {
        std::string text;
        for (DWORD i = 0; i < count && i < values.size(); ++i)
            text += (i ? "/" : "") + std::to_string(values[i]);
        return text;
    }

    static DWORD SelectorChannels(const MixerCard& card) { return card.uniform ? 1 : card.channels; }

    void Load() {
        if (m_loaded)
            return;
        m_loaded = true;
        const char* path = std::getenv("VORUR_MIXER_SIM");
        if (path && *path) {
            std::ifstream in(path);
            m_cards = in ? ParseDescription(in) : std::vector<SimCard>();
        } else {
            m_cards = BuiltInCards();
        }
        for (SimCard& card : m_cards)
            for (SimLineValues& line : card.values)
                line.selected.assign(SelectorChannels(card.mixer), line.initialSelected);
    }

    void Append(const std::string& entry) {
        m_log.push_back(entry);
        const char* path = std::getenv("VORUR_MIXER_LOG");
        if (path && *path) {
            int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd >= 0) {
                std::string text = entry + "\n";
                ssize_t ignored = ::write(fd, text.data(), text.size());
                (void)ignored;
                ::close(fd);
            }
        }
    }

    SimCard* Open(HMIXER mixer) {
        size_t* index = m_open.Find(mixer);
        return !index || *index >= m_cards.size() ? nullptr : &m_cards[*index];
    }

    bool m_loaded = false;
    std::vector<SimCard> m_cards;
    MixerHandles<size_t> m_open;  // the card each open mixer shows
    std::vector<std::string> m_log;
};

CSimMixer& Sim() {
    static CSimMixer* sim = new CSimMixer();  // lives to the process's end
    return *sim;
}

}  // namespace

std::vector<std::string> SimMixerLog() { return Sim().Log(); }
void ClearSimMixerLog() { Sim().ClearLog(); }
void ResetSimMixer() { Sim().Reset(); }
bool GetSimLineState(const std::string& device, const std::string& line, SimLineState& state) {
    return Sim().LineState(device, line, state);
}
IMixerSystem& GetSimMixerSystem() { return Sim(); }
