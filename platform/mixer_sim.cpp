#include "mixer_sim.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace {

constexpr DWORD kDestinationLineId = 0x10000;
constexpr DWORD kSelectorControlId = 0x10001;

enum class SelectorKind { None, Mux, Single, Multiple };

struct SimLine {
    std::string name;
    DWORD type = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    DWORD channels = 1;
    bool hasVolume = true;
    DWORD minimum = 0;
    DWORD maximum = 65535;
    std::vector<DWORD> volume;
    bool hasMute = true;
    DWORD mute = 0;
    DWORD initialSelected = 0;
    std::vector<DWORD> selected;  // per selector channel
};

struct SimCard {
    std::string name = "Sim Audio";
    DWORD formats = WAVE_FORMAT_4S16;
    bool canOpen = true;
    SelectorKind selector = SelectorKind::Mux;
    bool uniform = true;
    DWORD channels = 2;
    std::vector<SimLine> lines;
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

SimLine MakeLine(const std::string& name, DWORD type, DWORD channels, DWORD volume, DWORD mute, DWORD selected) {
    SimLine line;
    line.name = name;
    line.type = type;
    line.channels = channels;
    line.volume.assign(channels, volume);
    line.mute = mute;
    line.initialSelected = selected;
    return line;
}

std::vector<SimCard> BuiltInCards() {
    SimCard card;
    card.lines.push_back(MakeLine("Microphone", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, 49152, 1, 1));
    card.lines.push_back(MakeLine("Line In", MIXERLINE_COMPONENTTYPE_SRC_ANALOG, 2, 32768, 0, 0));
    card.lines.push_back(MakeLine("Stereo Mix", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, 32768, 0, 0));
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
            cards.back().lines.emplace_back();
            cards.back().lines.back().volume.assign(1, 32768);
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
                card.selector = value == "mux"      ? SelectorKind::Mux
                                : value == "single"   ? SelectorKind::Single
                                : value == "multiple" ? SelectorKind::Multiple
                                                      : SelectorKind::None;
            else if (key == "uniform")
                card.uniform = Number(value) != 0;
            else if (key == "channels")
                card.channels = std::max<DWORD>(1, Number(value));
        } else {
            SimLine& line = card.lines.back();
            if (key == "name") {
                line.name = value;
            } else if (key == "type") {
                line.type = LineType(value);
            } else if (key == "channels") {
                line.channels = std::max<DWORD>(1, Number(value));
                line.volume.resize(line.channels, line.volume.empty() ? 0 : line.volume[0]);
            } else if (key == "volume") {
                if (value == "none") {
                    line.hasVolume = false;
                } else {
                    std::istringstream fields(value);
                    DWORD v = 0;
                    fields >> line.minimum >> line.maximum >> v;
                    line.volume.assign(line.channels, v);
                }
            } else if (key == "mute") {
                line.hasMute = value != "none";
                line.mute = line.hasMute ? Number(value) : 0;
            } else if (key == "selected") {
                line.initialSelected = Number(value) != 0;
            }
        }
    }
    return cards;
}

class CSimMixer : public IMixerSystem {
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
        m_open.clear();
    }
    bool LineState(const std::string& device, const std::string& lineName, SimLineState& state) {
        std::lock_guard<std::mutex> guard(m_lock);
        Load();
        for (const SimCard& card : m_cards) {
            if (card.name != device)
                continue;
            for (const SimLine& line : card.lines) {
                if (line.name != lineName)
                    continue;
                state.volume = line.hasVolume ? line.volume : std::vector<DWORD>();
                state.mute = line.hasMute ? std::vector<DWORD>{line.mute} : std::vector<DWORD>();
                state.selected = line.selected;
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
        HMIXER handle = m_nextHandle++;
        m_open[handle] = waveInDeviceId;
        *mixer = handle;
        Append("open|" + m_cards[waveInDeviceId].name);
        return MMSYSERR_NOERROR;
    }

    MMRESULT MixerClose(HMIXER mixer) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Card(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        Append("close|" + card->name);
        m_open.erase(mixer);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetLineInfoByComponentType(HMIXER mixer, DWORD componentType, MIXERLINE& line) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Card(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        if (componentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN) {
            line = Destination(*card);
            return MMSYSERR_NOERROR;
        }
        for (size_t i = 0; i < card->lines.size(); ++i) {
            if (card->lines[i].type == componentType) {
                line = Source(*card, i);
                return MMSYSERR_NOERROR;
            }
        }
        return MIXERR_INVALLINE;
    }

    MMRESULT GetLineInfoBySource(HMIXER mixer, DWORD destination, DWORD source, MIXERLINE& line) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Card(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        if (destination != 0 || source >= card->lines.size())
            return MIXERR_INVALLINE;
        line = Source(*card, source);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetLineControls(HMIXER mixer, DWORD lineId, std::vector<MIXERCONTROL>& controls) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Card(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        if (!ValidLine(*card, lineId))
            return MIXERR_INVALLINE;
        controls = Controls(*card, lineId);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetLineControlByType(HMIXER mixer, DWORD lineId, DWORD controlType, MIXERCONTROL& control) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Card(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        if (!ValidLine(*card, lineId))
            return MIXERR_INVALLINE;
        for (const MIXERCONTROL& c : Controls(*card, lineId)) {
            if (c.dwControlType == controlType) {
                control = c;
                return MMSYSERR_NOERROR;
            }
        }
        return MIXERR_INVALCONTROL;
    }

    MMRESULT GetControlListText(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                                std::vector<std::string>& texts) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Card(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        if (controlId != kSelectorControlId || card->selector == SelectorKind::None)
            return MIXERR_INVALCONTROL;
        if (items != card->lines.size())
            return MMSYSERR_INVALPARAM;
        texts.clear();
        for (const SimLine& line : card->lines)
            texts.push_back(line.name);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                              std::vector<DWORD>& values) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Card(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        if (channels == 0)
            return MMSYSERR_INVALPARAM;
        values.clear();
        if (controlId == kSelectorControlId) {
            if (card->selector == SelectorKind::None)
                return MIXERR_INVALCONTROL;
            if (items != card->lines.size() || channels > SelectorChannels(*card))
                return MMSYSERR_INVALPARAM;
            for (DWORD ch = 0; ch < channels; ++ch)
                for (const SimLine& line : card->lines)
                    values.push_back(line.selected[ch]);
            return MMSYSERR_NOERROR;
        }
        SimLine* line = nullptr;
        int kind = ControlKind(*card, controlId, line);
        if (kind == 1) {
            if (channels > line->channels)
                return MMSYSERR_INVALPARAM;
            values.assign(line->volume.begin(), line->volume.begin() + channels);
            return MMSYSERR_NOERROR;
        }
        if (kind == 2) {
            values.assign(channels, line->mute);
            return MMSYSERR_NOERROR;
        }
        return MIXERR_INVALCONTROL;
    }

    MMRESULT SetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                              const std::vector<DWORD>& values) override {
        std::lock_guard<std::mutex> guard(m_lock);
        SimCard* card = Card(mixer);
        if (!card)
            return MMSYSERR_INVALHANDLE;
        if (channels == 0)
            return MMSYSERR_INVALPARAM;
        if (controlId == kSelectorControlId) {
            if (card->selector == SelectorKind::None)
                return MIXERR_INVALCONTROL;
            DWORD n = static_cast<DWORD>(card->lines.size());
            if (items != n || channels > SelectorChannels(*card) || values.size() < channels * n)
                return MMSYSERR_INVALPARAM;
            std::string entry = "select|" + card->name + "|";
            for (DWORD item = 0; item < n; ++item) {
                SimLine& line = card->lines[item];
                for (DWORD ch = 0; ch < channels; ++ch)
                    line.selected[ch] = values[ch * n + item] ? 1 : 0;
                entry += (item ? "," : "") + line.name + "=" + Joined(line.selected, channels);
            }
            Append(entry);
            return MMSYSERR_NOERROR;
        }
        SimLine* line = nullptr;
        int kind = ControlKind(*card, controlId, line);
        if (kind == 0)
            return MIXERR_INVALCONTROL;
        if (values.size() < channels)
            return MMSYSERR_INVALPARAM;
        if (kind == 1) {
            if (channels > line->channels)
                return MMSYSERR_INVALPARAM;
            for (DWORD v : std::vector<DWORD>(values.begin(), values.begin() + channels))
                if (v < line->minimum || v > line->maximum)
                    return MIXERR_INVALVALUE;
            // One value serves every channel; otherwise channel by channel.
            for (DWORD ch = 0; ch < line->channels; ++ch)
                line->volume[ch] = channels == 1 ? values[0] : ch < channels ? values[ch] : line->volume[ch];
            Append("volume|" + card->name + "|" + line->name + "|" + Joined(values, channels));
            return MMSYSERR_NOERROR;
        }
        line->mute = values[0] ? 1 : 0;
        Append("mute|" + card->name + "|" + line->name + "|" + Joined(values, channels));
        return MMSYSERR_NOERROR;
    }

private:
    static std::string Joined(const std::vector<DWORD>& values, DWORD count) {
        std::string text;
        for (DWORD i = 0; i < count && i < values.size(); ++i)
            text += (i ? "/" : "") + std::to_string(values[i]);
        return text;
    }

    static DWORD SelectorChannels(const SimCard& card) { return card.uniform ? 1 : card.channels; }

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
            for (SimLine& line : card.lines)
                line.selected.assign(SelectorChannels(card), line.initialSelected);
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

    SimCard* Card(HMIXER mixer) {
        auto it = m_open.find(mixer);
        return it == m_open.end() || it->second >= m_cards.size() ? nullptr : &m_cards[it->second];
    }

    static bool ValidLine(const SimCard& card, DWORD lineId) {
        return lineId == kDestinationLineId || lineId < card.lines.size();
    }

    static MIXERLINE Destination(const SimCard& card) {
        MIXERLINE line;
        line.dwDestination = 0;
        line.dwLineID = kDestinationLineId;
        line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
        line.cChannels = card.channels;
        line.cConnections = static_cast<DWORD>(card.lines.size());
        line.cControls = card.selector == SelectorKind::None ? 0 : 1;
        line.szShortName = "Recording";
        line.szName = "Recording Control";
        return line;
    }

    static MIXERLINE Source(const SimCard& card, size_t index) {
        const SimLine& sim = card.lines[index];
        MIXERLINE line;
        line.dwDestination = 0;
        line.dwSource = static_cast<DWORD>(index);
        line.dwLineID = static_cast<DWORD>(index);
        line.dwComponentType = sim.type;
        line.cChannels = sim.channels;
        line.cControls = (sim.hasVolume ? 1 : 0) + (sim.hasMute ? 1 : 0);
        line.szShortName = sim.name.substr(0, 15);
        line.szName = sim.name;
        return line;
    }

    static std::vector<MIXERCONTROL> Controls(const SimCard& card, DWORD lineId) {
        std::vector<MIXERCONTROL> controls;
        if (lineId == kDestinationLineId) {
            if (card.selector == SelectorKind::None)
                return controls;
            MIXERCONTROL c;
            c.dwControlID = kSelectorControlId;
            c.dwControlType = card.selector == SelectorKind::Mux      ? MIXERCONTROL_CONTROLTYPE_MUX
                              : card.selector == SelectorKind::Single ? MIXERCONTROL_CONTROLTYPE_SINGLESELECT
                                                                      : MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT;
            c.fdwControl = MIXERCONTROL_CONTROLF_MULTIPLE | (card.uniform ? MIXERCONTROL_CONTROLF_UNIFORM : 0);
            c.cMultipleItems = static_cast<DWORD>(card.lines.size());
            c.szName = "Recording Source";
            c.dwMinimum = 0;
            c.dwMaximum = 1;
            controls.push_back(c);
            return controls;
        }
        const SimLine& line = card.lines[lineId];
        if (line.hasVolume) {
            MIXERCONTROL c;
            c.dwControlID = (lineId + 1) * 16 + 1;
            c.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
            c.szName = line.name + " Volume";
            c.dwMinimum = line.minimum;
            c.dwMaximum = line.maximum;
            controls.push_back(c);
        }
        if (line.hasMute) {
            MIXERCONTROL c;
            c.dwControlID = (lineId + 1) * 16 + 2;
            c.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
            c.fdwControl = MIXERCONTROL_CONTROLF_UNIFORM;
            c.szName = line.name + " Mute";
            c.dwMinimum = 0;
            c.dwMaximum = 1;
            controls.push_back(c);
        }
        return controls;
    }

    // 1 volume, 2 mute, 0 no such control.
    static int ControlKind(SimCard& card, DWORD controlId, SimLine*& line) {
        DWORD index = controlId / 16;
        DWORD kind = controlId % 16;
        if (index == 0 || index > card.lines.size())
            return 0;
        line = &card.lines[index - 1];
        if (kind == 1 && line->hasVolume)
            return 1;
        if (kind == 2 && line->hasMute)
            return 2;
        return 0;
    }

    std::mutex m_lock;
    bool m_loaded = false;
    std::vector<SimCard> m_cards;
    std::map<HMIXER, size_t> m_open;
    HMIXER m_nextHandle = 1;
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
