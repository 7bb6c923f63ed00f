// The recording mixer: checks that a sound card can record, chooses the
// recording source (microphone, or what the card plays) and sets the two volumes
// the learner adjusts. Below it, a process-wide list of recording devices, each
// with its mixer and the source lines of that mixer's recording destination.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mixer.h"
#include "wintypes.h"

// One source line of a device's recording destination.
class MixerLine {
public:
    MixerLine(const MIXERLINE& line, HMIXER mixer) : m_line(line), m_hMixer(mixer) {}

    // Makes this line a recording source on the destination's list selector.
    void SelectAsRecordSource();
    // Clears the line's mute switch; failures are ignored.
    void UnmuteLine();
    // Sets every channel's volume to `percent` (above 100 counts as 100).
    MMRESULT SetLineVolume(int percent);

    const MIXERLINE& Info() const { return m_line; }

    MIXERLINE m_line;
    HMIXER m_hMixer;
};

// The mixer of one recording device: closed at first, opened on demand.
class DeviceMixer {
public:
    explicit DeviceMixer(UINT deviceId) : m_uDeviceId(deviceId), m_hMixer(0) {}
    ~DeviceMixer() { Close(); }
    DeviceMixer(const DeviceMixer&) = delete;
    DeviceMixer& operator=(const DeviceMixer&) = delete;

    // Opens the mixer and lists the recording destination's source lines if it is
    // closed. False with "Can't open Mixer Device." in `error` when it cannot be opened.
    bool Open(std::string* error = nullptr);
    // Deletes the lines and closes the mixer if it is open.
    void Close();
    // The first listed line of that component type, or null.
    MixerLine* FindLine(DWORD componentType);

    HMIXER Handle() const { return m_hMixer; }
    bool IsOpen() const { return m_hMixer != 0; }
    const std::vector<std::unique_ptr<MixerLine>>& Lines() const { return m_lines; }

private:
    UINT m_uDeviceId;
    HMIXER m_hMixer;
    std::recursive_mutex m_lock;
    std::vector<std::unique_ptr<MixerLine>> m_lines;
};

struct WaveInDevice {
    WaveInDevice(UINT id, const WAVEINCAPS& caps) : m_uDeviceId(id), m_caps(caps), m_mixer(id) {}
    UINT m_uDeviceId;
    WAVEINCAPS m_caps;
    DeviceMixer m_mixer;
};

// The recording devices that can record 44.1 kHz stereo 16-bit, in the platform's
// order; built on first use.
std::vector<std::unique_ptr<WaveInDevice>>& GetWaveInDevices();
// The first device of that name; null with "Device not found." in `error` when none.
WaveInDevice* FindWaveInDevice(const std::string& name, std::string* error = nullptr);
// Deletes every device (closing its mixer); the next use builds the list anew.
void ReleaseWaveInDevices();
// The text of the device layer's last error ("Device not found.", "Can't open
// Mixer Device."), empty when none; for diagnostics only.
std::string LastWaveInDeviceError();

class CRudMixer {
public:
    CRudMixer();
    virtual ~CRudMixer() = default;

    // Chooses the recording device: the first with a wave-out or analog source,
    // else the first with a microphone.
    BOOL CheckDevice();
    // speaker: record what the card plays (falling back to analog, then the
    // microphone); otherwise record the microphone.
    BOOL SelectRecordMixer(BOOL speaker);
    BOOL UnmuteMic();
    // Percent 0..100; -1 when the control cannot be read; 0 without device or line.
    int GetMicVolume();
    BOOL SetMicVolume(int percent);
    int GetSourceVolume();
    BOOL SetSourceVolume(int percent);

    int m_nDeviceIndex;
    std::string m_strError;  // UTF-8; the text of the last failure
    DWORD m_dwSourceType;

private:
    // The chosen device's mixer, opened; null when the device is out of reach.
    DeviceMixer* ChosenMixer();
};
