// What the mixer backends share: each open mixer is described as a card (the
// recording destination, its source lines with their types, names and channels,
// the source selector, the volume and mute controls), and every call on lines and
// controls is answered from that description. A backend finds and opens the cards
// and keeps the control values behind the four value hooks.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "mixer.h"

enum class MixerSelector { None, Mux, Single, Multiple };

struct MixerCardLine {
    DWORD type = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    std::string name;
    DWORD channels = 1;
    bool hasVolume = true;
    DWORD minimum = 0;  // the volume's range
    DWORD maximum = 65535;
    bool hasMute = true;
};

struct MixerCard {
    DWORD channels = 2;  // of the recording destination
    MixerSelector selector = MixerSelector::Mux;
    bool uniform = true;  // the selector holds one value for every channel
    std::string destinationName = "Recording Control";
    std::string selectorName = "Recording Source";
    bool lineNamedControls = true;  // "Microphone Volume" rather than "Volume"
    bool uniformVolume = false;     // one volume value serves every channel
    std::vector<MixerCardLine> lines;
};

// The volume or the mute switch of a source line.
struct MixerLevel {
    size_t line = 0;
    bool volume = true;  // false: the mute switch
};

// Open mixers by handle; a handle is never given out twice.
template <typename T>
class MixerHandles {
public:
    HMIXER Add(T item) {
        m_items.emplace(m_next, std::move(item));
        return m_next++;
    }
    T* Find(HMIXER handle) {
        auto it = m_items.find(handle);
        return it == m_items.end() ? nullptr : &it->second;
    }
    bool Remove(HMIXER handle) { return m_items.erase(handle) != 0; }
    void Clear() { m_items.clear(); }

private:
    std::map<HMIXER, T> m_items;
    HMIXER m_next = 1;
};

class CMixerCardSystem : public IMixerSystem {
public:
    MMRESULT GetLineInfoByComponentType(HMIXER mixer, DWORD componentType, MIXERLINE& line) override;
    MMRESULT GetLineInfoBySource(HMIXER mixer, DWORD destination, DWORD source, MIXERLINE& line) override;
    MMRESULT GetLineControls(HMIXER mixer, DWORD lineId, std::vector<MIXERCONTROL>& controls) override;
    MMRESULT GetLineControlByType(HMIXER mixer, DWORD lineId, DWORD controlType, MIXERCONTROL& control) override;
    MMRESULT GetControlListText(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                                std::vector<std::string>& texts) override;
    MMRESULT GetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                              std::vector<DWORD>& values) override;
    MMRESULT SetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                              const std::vector<DWORD>& values) override;

protected:
    // The description of an open mixer; null for a handle that is not open.
    virtual const MixerCard* Card(HMIXER mixer) = 0;

    // The values behind the controls. Called with m_lock held, once the handle, a
    // nonzero channel count, the control and (for the selector) the item count
    // have been checked; `values` arrives empty for the reads.
    virtual MMRESULT ReadSelector(HMIXER mixer, DWORD channels, std::vector<DWORD>& values) = 0;
    virtual MMRESULT WriteSelector(HMIXER mixer, DWORD channels, const std::vector<DWORD>& values) = 0;
    virtual MMRESULT ReadLevel(HMIXER mixer, MixerLevel level, DWORD channels, std::vector<DWORD>& values) = 0;
    virtual MMRESULT WriteLevel(HMIXER mixer, MixerLevel level, DWORD channels,
                                const std::vector<DWORD>& values) = 0;

    std::mutex m_lock;  // also guards the backend's devices and open mixers

private:
    MMRESULT CheckControl(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items, std::vector<DWORD>* values,
                          bool& selector, MixerLevel& level);
};
