// Mixer device layer: recording devices, each with a mixer whose recording
// destination has source lines (microphone, analog, wave-out), a list selector
// choosing which sources feed the recording, and volume and mute controls. The
// calls and values follow the classic mixer interface.
//
// Backends, chosen by VORUR_MIXER: "sim" (mixer_sim.h) or, by default, the
// PulseAudio server (mixer_pulse.md tells how its objects map onto these).
// Both describe their cards to the shared plumbing in mixer_card.h.
#pragma once

#include <string>
#include <vector>

#include "wavein.h"
#include "wintypes.h"

using HMIXER = uint32_t;  // 0 = none

constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// Line component types.
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;

// Control types and flags.
constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_SINGLESELECT = 0x70010000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT = 0x71010000;
constexpr DWORD MIXERCONTROL_CT_CLASS_MASK = 0xF0000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_LIST = 0x70000000;
constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x1;
constexpr DWORD MIXERCONTROL_CONTROLF_MULTIPLE = 0x2;

// Wave-in capability bit: records 44.1 kHz stereo 16-bit.
constexpr DWORD WAVE_FORMAT_4S16 = 0x800;

constexpr size_t MAXPNAMELEN = 32;  // device names hold at most 31 characters

struct WAVEINCAPS {
    std::string szPname;  // at most 31 characters
    DWORD dwFormats = 0;
    WORD wChannels = 0;
};

struct MIXERLINE {
    DWORD dwDestination = 0;
    DWORD dwSource = 0;
    DWORD dwLineID = 0;
    DWORD fdwLine = 0;
    DWORD dwComponentType = 0;
    DWORD cChannels = 0;
    DWORD cConnections = 0;  // destinations: the number of source lines
    DWORD cControls = 0;
    std::string szShortName;
    std::string szName;
};

struct MIXERCONTROL {
    DWORD dwControlID = 0;
    DWORD dwControlType = 0;
    DWORD fdwControl = 0;
    DWORD cMultipleItems = 0;  // list controls: the number of items
    std::string szName;
    DWORD dwMinimum = 0;
    DWORD dwMaximum = 0;
};

// Control values are 32-bit words laid out channel by channel; within a channel,
// item by item: values[channel * max(items, 1) + item]. List controls hold one
// boolean per item and channel; volumes and switches one value per channel.
class IMixerSystem {
public:
    virtual ~IMixerSystem() = default;

    // Recording devices, numbered from 0.
    virtual UINT WaveInGetNumDevs() = 0;
    virtual MMRESULT WaveInGetDevCaps(UINT deviceId, WAVEINCAPS& caps) = 0;

    // The mixer of a recording device.
    virtual MMRESULT MixerOpen(HMIXER* mixer, UINT waveInDeviceId) = 0;
    virtual MMRESULT MixerClose(HMIXER mixer) = 0;
    // The first line of that component type: the recording destination, or a source
    // line anywhere in the mixer.
    virtual MMRESULT GetLineInfoByComponentType(HMIXER mixer, DWORD componentType, MIXERLINE& line) = 0;
    // Source line `source` of destination `destination`.
    virtual MMRESULT GetLineInfoBySource(HMIXER mixer, DWORD destination, DWORD source, MIXERLINE& line) = 0;
    // Every control of a line.
    virtual MMRESULT GetLineControls(HMIXER mixer, DWORD lineId, std::vector<MIXERCONTROL>& controls) = 0;
    // The first control of that type on a line.
    virtual MMRESULT GetLineControlByType(HMIXER mixer, DWORD lineId, DWORD controlType, MIXERCONTROL& control) = 0;
    // The item texts of a list control, one per item.
    virtual MMRESULT GetControlListText(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                                        std::vector<std::string>& texts) = 0;
    virtual MMRESULT GetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                                      std::vector<DWORD>& values) = 0;
    virtual MMRESULT SetControlValues(HMIXER mixer, DWORD controlId, DWORD channels, DWORD items,
                                      const std::vector<DWORD>& values) = 0;
};

// The process's mixer system, chosen on first use by VORUR_MIXER ("sim" or
// "pulse", the default). Never null.
IMixerSystem& GetMixerSystem();

// Loads, on the calling thread, the library the chosen backend will talk to the
// sound server with, so that the first mixer open does not wait for it.
void PreloadMixerLibrary();

// Chooses the backend again from the environment on the next GetMixerSystem();
// for tests. Not to be called while mixers are open.
void ResetMixerSystemForTesting();
