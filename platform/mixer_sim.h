// The simulated mixer (VORUR_MIXER=sim): devices and lines from a small
// description file, with a log of every operation applied.
//
// Description file (VORUR_MIXER_SIM=path; without it the built-in card below).
// '#' starts a comment; a [device] section opens a card, each [line] section adds
// a source line to the card above it; keys are "key = value":
//
//   [device]
//   name = Sim Audio          card name (at most 31 characters are shown)
//   formats = 0x800           capability bits; without 0x800 the card cannot record 44.1 kHz stereo
//   open = 1                  0: its mixer cannot be opened
//   selector = mux            mux | single | multiple | none: the recording source selector
//   uniform = 1               0: the selector holds one value per channel
//   channels = 2              channels of the recording destination
//   [line]
//   name = Microphone
//   type = microphone         microphone | analog | waveout | synthesizer | a number
//   channels = 1
//   volume = 0 65535 32768    minimum, maximum, value; "none": no volume control
//   mute = 1                  initial state; "none": no mute control
//   selected = 1              selected as a recording source
//
// Built in: one card "Sim Audio" with "Microphone" (selected, muted), "Line In" and
// "Stereo Mix" (wave-out) on a MUX selector; volumes 0..65535.
//
// The capture records SDL's default device beside the simulated card; selecting a
// wave-out line makes it the playback mix (capture_route.h), any other line the
// device's sound alone.
//
// Log: one line per operation, fields separated by '|':
//   open|<device>                         a mixer was opened
//   close|<device>                        a mixer was closed
//   select|<device>|<item>=<v>,<item>=<v>  the selector was written (v 0 or 1; per channel "1/0")
//   volume|<device>|<line>|<v>[/<v>...]   a volume was set, one value per channel written
//   mute|<device>|<line>|<v>[/<v>...]     a mute switch was set
// The same lines are appended to the file named by VORUR_MIXER_LOG, when set.
#pragma once

#include <string>
#include <vector>

#include "mixer.h"

// The operations logged since the process started or the last ClearSimMixerLog().
std::vector<std::string> SimMixerLog();
void ClearSimMixerLog();

// Forgets the simulated cards' state; the description is read again on next use.
void ResetSimMixer();

// The current state of a simulated line; false when there is no such line.
struct SimLineState {
    std::vector<DWORD> volume;  // per channel; empty without a volume control
    std::vector<DWORD> mute;    // empty without a mute control
    std::vector<DWORD> selected;  // per selector channel
};
bool GetSimLineState(const std::string& device, const std::string& line, SimLineState& state);

IMixerSystem& GetSimMixerSystem();
