#include "rud_mixer.h"

#include <algorithm>
#include <cstdint>

namespace {

const char* const kNoCard = "CRudMixer::CheckDevice : 녹음이 가능한 사운드 카드가 없습니다.";
const char* const kCannotRecord = "녹음이 불가능한 사운드 카드입니다.";
const char* const kSelectNoCard = "CRudMixer::SelectRecordMixer : 녹음이 가능한 사운드 카드가 없습니다.";
const char* const kNoSourceLine = "현재 사운드 장치로는 녹음 하실 수 없습니다.";

const char* const kDeviceNotFound = "Device not found.";
const char* const kCannotOpenMixer = "Can't open Mixer Device.";

// The process-wide device list and its lock.
std::recursive_mutex& DeviceLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex();
    return *lock;
}
std::vector<std::unique_ptr<WaveInDevice>> g_devices;
bool g_built = false;
std::string g_lastError;

void SetDeviceError(const char* text, std::string* error) {
    {
        std::lock_guard<std::recursive_mutex> guard(DeviceLock());
        g_lastError = text;
    }
    if (error)
        *error = text;
}

// How many channel values an operation on a line's control writes.
DWORD ControlChannels(const MIXERCONTROL& control, DWORD lineChannels) {
    if (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM)
        return 1;
    return std::clamp<DWORD>(lineChannels, 1, 2);
}

// Sets a line's volume control; false when the line has none.
bool WriteVolume(HMIXER mixer, const MIXERLINE& line, int percent, MMRESULT* result) {
    MIXERCONTROL control;
    IMixerSystem& system = GetMixerSystem();
    if (system.GetLineControlByType(mixer, line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, control) !=
        MMSYSERR_NOERROR)
        return false;
    percent = std::clamp(percent, 0, 100);
    DWORD range = control.dwMaximum >= control.dwMinimum ? control.dwMaximum - control.dwMinimum : 0;
    // 64-bit product: a wide control range must not wrap.
    DWORD value = control.dwMinimum + static_cast<DWORD>(static_cast<uint64_t>(range) * percent / 100);
    DWORD channels = ControlChannels(control, line.cChannels);
    MMRESULT r = system.SetControlValues(mixer, control.dwControlID, channels, 0, std::vector<DWORD>(channels, value));
    if (result)
        *result = r;
    return true;
}

// Clears a line's mute switch; false when the line has none.
bool WriteUnmute(HMIXER mixer, const MIXERLINE& line) {
    MIXERCONTROL control;
    IMixerSystem& system = GetMixerSystem();
    if (system.GetLineControlByType(mixer, line.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE, control) !=
        MMSYSERR_NOERROR)
        return false;
    DWORD channels = ControlChannels(control, line.cChannels);
    system.SetControlValues(mixer, control.dwControlID, channels, 0, std::vector<DWORD>(channels, 0));
    return true;
}

// A line's volume as a percent of its control's range; -1 when it cannot be read.
int ReadVolume(HMIXER mixer, const MIXERLINE& line) {
    MIXERCONTROL control;
    IMixerSystem& system = GetMixerSystem();
    if (system.GetLineControlByType(mixer, line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, control) !=
        MMSYSERR_NOERROR)
        return -1;
    DWORD channels = (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : std::max<DWORD>(line.cChannels, 1);
    std::vector<DWORD> values;
    if (system.GetControlValues(mixer, control.dwControlID, channels, 0, values) != MMSYSERR_NOERROR ||
        values.empty())
        return -1;
    // A control without a range has no meaningful position.
    if (control.dwMaximum <= control.dwMinimum)
        return 0;
    DWORD value = std::clamp(values[0], control.dwMinimum, control.dwMaximum);
    return static_cast<int>(static_cast<uint64_t>(value - control.dwMinimum) * 100 /
                            (control.dwMaximum - control.dwMinimum));
}

}  // namespace

void MixerLine::SelectAsRecordSource() {
    IMixerSystem& system = GetMixerSystem();
    MIXERLINE destination;
    if (system.GetLineInfoByComponentType(m_hMixer, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, destination) !=
        MMSYSERR_NOERROR)
        return;
    std::vector<MIXERCONTROL> controls;
    if (system.GetLineControls(m_hMixer, destination.dwLineID, controls) != MMSYSERR_NOERROR)
        return;
    auto list = std::find_if(controls.begin(), controls.end(), [](const MIXERCONTROL& c) {
        return (c.dwControlType & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST;
    });
    if (list == controls.end())
        return;
    const MIXERCONTROL& control = *list;
    bool single = control.dwControlType == MIXERCONTROL_CONTROLTYPE_SINGLESELECT ||
                  control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUX;
    DWORD channels = (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : std::max<DWORD>(destination.cChannels, 1);
    DWORD items = (control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? control.cMultipleItems : 0;

    std::vector<std::string> texts;
    std::vector<DWORD> values;
    if (system.GetControlListText(m_hMixer, control.dwControlID, channels, items, texts) != MMSYSERR_NOERROR ||
        system.GetControlValues(m_hMixer, control.dwControlID, channels, items, values) != MMSYSERR_NOERROR)
        return;
    DWORD stride = std::max<DWORD>(items, 1);
    if (values.size() < channels * stride)
        values.resize(channels * stride, 0);
    // A selector that keeps a value per channel gets the same choice on every channel.
    for (DWORD ch = 0; ch < channels; ++ch) {
        for (DWORD item = 0; item < items && item < texts.size(); ++item) {
            DWORD& value = values[ch * stride + item];
            if (texts[item] == m_line.szName)
                value = 1;
            else if (single)
                value = 0;
        }
    }
    system.SetControlValues(m_hMixer, control.dwControlID, channels, items, values);
}

void MixerLine::UnmuteLine() { WriteUnmute(m_hMixer, m_line); }

MMRESULT MixerLine::SetLineVolume(int percent) {
    MMRESULT result = MIXERR_INVALCONTROL;
    WriteVolume(m_hMixer, m_line, percent, &result);
    return result;
}

bool DeviceMixer::Open(std::string* error) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_hMixer)
        return true;
    IMixerSystem& system = GetMixerSystem();
    HMIXER handle = 0;
    if (system.MixerOpen(&handle, m_uDeviceId) != MMSYSERR_NOERROR || handle == 0) {
        SetDeviceError(kCannotOpenMixer, error);
        return false;
    }
    m_hMixer = handle;
    MIXERLINE destination;
    if (system.GetLineInfoByComponentType(handle, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, destination) !=
        MMSYSERR_NOERROR)
        return true;
    for (DWORD source = 0; source < destination.cConnections; ++source) {
        MIXERLINE line;
        if (system.GetLineInfoBySource(handle, destination.dwDestination, source, line) != MMSYSERR_NOERROR)
            continue;
        if (line.dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER)
            continue;
        m_lines.push_back(std::make_unique<MixerLine>(line, handle));
    }
    return true;
}

void DeviceMixer::Close() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_lines.clear();
    if (m_hMixer) {
        GetMixerSystem().MixerClose(m_hMixer);
        m_hMixer = 0;
    }
}

MixerLine* DeviceMixer::FindLine(DWORD componentType) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (auto& line : m_lines)
        if (line->m_line.dwComponentType == componentType)
            return line.get();
    return nullptr;
}

std::vector<std::unique_ptr<WaveInDevice>>& GetWaveInDevices() {
    std::lock_guard<std::recursive_mutex> guard(DeviceLock());
    if (!g_built) {
        IMixerSystem& system = GetMixerSystem();
        UINT count = system.WaveInGetNumDevs();
        for (UINT id = 0; id < count; ++id) {
            WAVEINCAPS caps;
            if (system.WaveInGetDevCaps(id, caps) == MMSYSERR_NOERROR && (caps.dwFormats & WAVE_FORMAT_4S16))
                g_devices.push_back(std::make_unique<WaveInDevice>(id, caps));
        }
        g_built = true;
    }
    return g_devices;
}

WaveInDevice* FindWaveInDevice(const std::string& name, std::string* error) {
    std::lock_guard<std::recursive_mutex> guard(DeviceLock());
    for (auto& device : GetWaveInDevices())
        if (device->m_caps.szPname == name)
            return device.get();
    SetDeviceError(kDeviceNotFound, error);
    return nullptr;
}

void ReleaseWaveInDevices() {
    std::vector<std::unique_ptr<WaveInDevice>> released;
    {
        std::lock_guard<std::recursive_mutex> guard(DeviceLock());
        released.swap(g_devices);
        g_built = false;
    }
    // Each device closes its mixer here, outside the list's lock: a mixer that fails
    // to open takes its own lock first and then the list's.
    released.clear();
}

std::string LastWaveInDeviceError() {
    std::lock_guard<std::recursive_mutex> guard(DeviceLock());
    return g_lastError;
}

CRudMixer::CRudMixer() : m_nDeviceIndex(0), m_dwSourceType(0) {}

DeviceMixer* CRudMixer::ChosenMixer() {
    auto& devices = GetWaveInDevices();
    if (m_nDeviceIndex < 0 || static_cast<size_t>(m_nDeviceIndex) >= devices.size())
        return nullptr;
    WaveInDevice* device = FindWaveInDevice(devices[static_cast<size_t>(m_nDeviceIndex)]->m_caps.szPname);
    if (!device || !device->m_mixer.Open())
        return nullptr;
    return &device->m_mixer;
}

BOOL CRudMixer::CheckDevice() {
    auto& devices = GetWaveInDevices();
    if (devices.empty()) {
        m_strError = kNoCard;
        return 0;
    }
    // A device whose mixer cannot be opened is passed over.
    for (size_t i = 0; i < devices.size(); ++i) {
        DeviceMixer& mixer = devices[i]->m_mixer;
        if (!mixer.Open())
            continue;
        if (mixer.FindLine(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT))
            m_dwSourceType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
        else if (mixer.FindLine(MIXERLINE_COMPONENTTYPE_SRC_ANALOG))
            m_dwSourceType = MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
        else
            continue;
        m_nDeviceIndex = static_cast<int>(i);
        return 1;
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        DeviceMixer& mixer = devices[i]->m_mixer;
        if (mixer.Open() && mixer.FindLine(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE)) {
            m_nDeviceIndex = static_cast<int>(i);
            return 1;
        }
    }
    m_strError = kCannotRecord;
    return 0;
}

BOOL CRudMixer::SelectRecordMixer(BOOL speaker) {
    auto& devices = GetWaveInDevices();
    if (m_nDeviceIndex < 0 || static_cast<size_t>(m_nDeviceIndex) >= devices.size()) {
        m_strError = kSelectNoCard;
        return 0;
    }
    DeviceMixer* mixer = ChosenMixer();
    if (speaker) {
        // A device that went away or whose mixer fails has no usable line either.
        MixerLine* line = nullptr;
        if (mixer) {
            line = mixer->FindLine(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
            if (!line)
                line = mixer->FindLine(MIXERLINE_COMPONENTTYPE_SRC_ANALOG);
            if (!line)
                line = mixer->FindLine(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
        }
        if (!line) {
            m_strError = kNoSourceLine;
            return 0;
        }
        m_dwSourceType = line->m_line.dwComponentType;
        line->UnmuteLine();
        line->SelectAsRecordSource();
    } else {
        MixerLine* line = mixer ? mixer->FindLine(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE) : nullptr;
        if (!line)
            return 0;
        line->SelectAsRecordSource();
    }
    mixer->Close();
    return 1;
}

BOOL CRudMixer::SetSourceVolume(int percent) {
    DeviceMixer* mixer = ChosenMixer();
    MixerLine* line = mixer && m_dwSourceType ? mixer->FindLine(m_dwSourceType) : nullptr;
    if (!line)
        return 0;
    line->SetLineVolume(percent);
    return 1;
}

int CRudMixer::GetSourceVolume() {
    DeviceMixer* mixer = ChosenMixer();
    MixerLine* line = mixer && m_dwSourceType ? mixer->FindLine(m_dwSourceType) : nullptr;
    if (!line)
        return 0;
    return ReadVolume(mixer->Handle(), line->m_line);
}

BOOL CRudMixer::SetMicVolume(int percent) {
    DeviceMixer* mixer = ChosenMixer();
    MIXERLINE mic;
    if (!mixer || GetMixerSystem().GetLineInfoByComponentType(mixer->Handle(), MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                                              mic) != MMSYSERR_NOERROR)
        return 0;
    return WriteVolume(mixer->Handle(), mic, percent, nullptr) ? 1 : 0;
}

int CRudMixer::GetMicVolume() {
    DeviceMixer* mixer = ChosenMixer();
    MIXERLINE mic;
    if (!mixer || GetMixerSystem().GetLineInfoByComponentType(mixer->Handle(), MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                                              mic) != MMSYSERR_NOERROR)
        return 0;
    return ReadVolume(mixer->Handle(), mic);
}

BOOL CRudMixer::UnmuteMic() {
    DeviceMixer* mixer = ChosenMixer();
    MIXERLINE mic;
    if (!mixer || GetMixerSystem().GetLineInfoByComponentType(mixer->Handle(), MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                                              mic) != MMSYSERR_NOERROR)
        return 0;
    return WriteUnmute(mixer->Handle(), mic) ? 1 : 0;
}
