#include "mixer_card.h"

namespace {

// Source lines are numbered from 0; the destination and its selector sit above
// them. A line's controls are (line + 1) * 16 + 1 (volume) and + 2 (mute).
constexpr DWORD kDestinationLineId = 0x10000;
constexpr DWORD kSelectorControlId = 0x10001;

MIXERLINE Destination(const MixerCard& card) {
    MIXERLINE line;
    line.dwLineID = kDestinationLineId;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    line.cChannels = card.channels;
    line.cConnections = static_cast<DWORD>(card.lines.size());
    line.cControls = card.selector == MixerSelector::None ? 0 : 1;
    line.szShortName = "Recording";
    line.szName = card.destinationName;
    return line;
}

MIXERLINE Source(const MixerCard& card, size_t index) {
    const MixerCardLine& source = card.lines[index];
    MIXERLINE line;
    line.dwSource = static_cast<DWORD>(index);
    line.dwLineID = static_cast<DWORD>(index);
    line.dwComponentType = source.type;
    line.cChannels = source.channels;
    line.cControls = (source.hasVolume ? 1 : 0) + (source.hasMute ? 1 : 0);
    line.szShortName = source.name.substr(0, 15);
    line.szName = source.name;
    return line;
}

bool ValidLine(const MixerCard& card, DWORD lineId) {
    return lineId == kDestinationLineId || lineId < card.lines.size();
}

std::vector<MIXERCONTROL> Controls(const MixerCard& card, DWORD lineId) {
    std::vector<MIXERCONTROL> controls;
    if (lineId == kDestinationLineId) {
        if (card.selector == MixerSelector::None)
            return controls;
        MIXERCONTROL c;
        c.dwControlID = kSelectorControlId;
        c.dwControlType = card.selector == MixerSelector::Mux      ? MIXERCONTROL_CONTROLTYPE_MUX
                          : card.selector == MixerSelector::Single ? MIXERCONTROL_CONTROLTYPE_SINGLESELECT
                                                                   : MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT;
        c.fdwControl = MIXERCONTROL_CONTROLF_MULTIPLE | (card.uniform ? MIXERCONTROL_CONTROLF_UNIFORM : 0);
        c.cMultipleItems = static_cast<DWORD>(card.lines.size());
        c.szName = card.selectorName;
        c.dwMaximum = 1;
        controls.push_back(c);
        return controls;
    }
    const MixerCardLine& line = card.lines[lineId];
    std::string prefix = card.lineNamedControls ? line.name + " " : "";
    if (line.hasVolume) {
        MIXERCONTROL c;
        c.dwControlID = (lineId + 1) * 16 + 1;
        c.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
        c.fdwControl = card.uniformVolume ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
        c.szName = prefix + "Volume";
        c.dwMinimum = line.minimum;
        c.dwMaximum = line.maximum;
        controls.push_back(c);
    }
    if (line.hasMute) {
        MIXERCONTROL c;
        c.dwControlID = (lineId + 1) * 16 + 2;
        c.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
        c.fdwControl = MIXERCONTROL_CONTROLF_UNIFORM;
        c.szName = prefix + "Mute";
        c.dwMaximum = 1;
        controls.push_back(c);
    }
    return controls;
}

// The line control a control id names; false when the card has no such control.
bool LevelOf(const MixerCard& card, DWORD controlId, MixerLevel& level) {
    DWORD index = controlId / 16;
    DWORD kind = controlId % 16;
    if (index == 0 || index > card.lines.size())
        return false;
    const MixerCardLine& line = card.lines[index - 1];
    if (!(kind == 1 && line.hasVolume) && !(kind == 2 && line.hasMute))
        return false;
    level.line = index - 1;
    level.volume = kind == 1;
    return true;
}

}  // namespace

MMRESULT CMixerCardSystem::GetLineInfoByComponentType(HMIXER mixer, DWORD componentType, MIXERLINE& line) {
    std::lock_guard<std::mutex> guard(m_lock);
    const MixerCard* card = Card(mixer);
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

MMRESULT CMixerCardSystem::GetLineInfoBySource(HMIXER mixer, DWORD destination, DWORD source, MIXERLINE& line) {
    std::lock_guard<std::mutex> guard(m_lock);
    const MixerCard* card = Card(mixer);
    if (!card)
        return MMSYSERR_INVALHANDLE;
    if (destination != 0 || source >= card->lines.size())
        return MIXERR_INVALLINE;
    line = Source(*card, source);
    return MMSYSERR_NOERROR;
}

MMRESULT CMixerCardSystem::GetLineControls(HMIXER mixer, DWORD lineId, std::vector<MIXERCONTROL>& controls) {
    std::lock_guard<std::mutex> guard(m_lock);
    const MixerCard* card = Card(mixer);
    if (!card)
        return MMSYSERR_INVALHANDLE;
    if (!ValidLine(*card, lineId))
        return MIXERR_INVALLINE;
    controls = Controls(*card, lineId);
    return MMSYSERR_NOERROR;
}

MMRESULT CMixerCardSystem::GetLineControlByType(HMIXER mixer, DWORD lineId, DWORD controlType,
                                                MIXERCONTROL& control) {
    std::vector<MIXERCONTROL> controls;
    MMRESULT r = GetLineControls(mixer, lineId, controls);
    if (r != MMSYSERR_NOERROR)
        return r;
    for (const MIXERCONTROL& c : controls) {
        if (c.dwControlType == controlType) {
            control = c;
            return MMSYSERR_NOERROR;
        }
    }
    return MIXERR_INVALCONTROL;
}

MMRESULT CMixerCardSystem::GetControlListText(HMIXER mixer, DWORD controlId, DWORD, DWORD items,
                                              std::vector<std::string>& texts) {
    std::lock_guard<std::mutex> guard(m_lock);
    const MixerCard* card = Card(mixer);
    if (!card)
        return MMSYSERR_INVALHANDLE;
    if (controlId != kSelectorControlId || card->selector == MixerSelector::None)
        return MIXERR_INVALCONTROL;
    if (items != card->lines.size())
        return MMSYSERR_INVALPARAM;
    texts.clear();
    for (const MixerCardLine& line : card->lines)
        texts.push_back(line.name);
    return MMSYSERR_NOERROR;
}

// The checks shared by reads and writes of a control: the handle, a nonzero
// channel count (after which a read's `values` is emptied), then the control and,
// for the selector, the item count. On success `selector` tells which it is; for
// a line control `level` names it.
MMRESULT CMixerCardSystem::CheckControl(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                                        std::vector<DWORD>* values, bool& selector, MixerLevel& level) {
    const MixerCard* card = Card(mixer);
    if (!card)
        return MMSYSERR_INVALHANDLE;
    if (channels == 0)
        return MMSYSERR_INVALPARAM;
    if (values)
        values->clear();
    selector = controlId == kSelectorControlId;
    if (selector) {
        if (card->selector == MixerSelector::None)
            return MIXERR_INVALCONTROL;
        return items != card->lines.size() ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
    }
    return LevelOf(*card, controlId, level) ? MMSYSERR_NOERROR : MIXERR_INVALCONTROL;
}

MMRESULT CMixerCardSystem::GetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                                            std::vector<DWORD>& values) {
    std::lock_guard<std::mutex> guard(m_lock);
    bool selector = false;
    MixerLevel level;
    MMRESULT r = CheckControl(mixer, controlId, channels, items, &values, selector, level);
    if (r != MMSYSERR_NOERROR)
        return r;
    return selector ? ReadSelector(mixer, channels, values) : ReadLevel(mixer, level, channels, values);
}

MMRESULT CMixerCardSystem::SetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                                            const std::vector<DWORD>& values) {
    std::lock_guard<std::mutex> guard(m_lock);
    bool selector = false;
    MixerLevel level;
    MMRESULT r = CheckControl(mixer, controlId, channels, items, nullptr, selector, level);
    if (r != MMSYSERR_NOERROR)
        return r;
    return selector ? WriteSelector(mixer, channels, values) : WriteLevel(mixer, level, channels, values);
}
