// Wave-in over SDL2 audio capture.

#include <SDL2/SDL.h>

#include "sdl_memory.h"
#include "wavein.h"

namespace {

class CSdlWaveIn : public CQueuedWaveInDevice {
public:
    ~CSdlWaveIn() override {
        CloseDevice();
        ReleaseQueue();
    }

protected:
    bool IsDeviceOpen() const override { return m_device != 0; }

    MMRESULT OpenDevice(UINT deviceId, const WAVEFORMATEX& format) override {
        LimitSdlAllocations();
        // SDL would otherwise turn SIGINT and SIGTERM into events nobody reads, and
        // the process could no longer be stopped.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        std::lock_guard<std::mutex> audioLock(SdlAudioLock());
        // Reference-counted: other parts of the process may use SDL audio too.
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return MMSYSERR_NODRIVER;

        const char* name = nullptr;
        if (deviceId != WAVE_MAPPER) {
            name = SDL_GetAudioDeviceName(static_cast<int>(deviceId), 1);
            if (!name) {
                SDL_QuitSubSystem(SDL_INIT_AUDIO);
                return MMSYSERR_BADDEVICEID;
            }
        }
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(format.nSamplesPerSec);
        want.format = AUDIO_S16LSB;
        want.channels = static_cast<Uint8>(format.nChannels);
        want.samples = 1024;
        want.callback = &CSdlWaveIn::AudioCallback;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No format changes allowed: SDL converts whatever the device delivers.
        SDL_AudioDeviceID device = SDL_OpenAudioDevice(name, 1, &want, &have, 0);
        if (device == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return MMSYSERR_BADDEVICEID;
        }
        m_device = device;
        return MMSYSERR_NOERROR;
    }

    bool RunDevice(bool run) override {
        SDL_PauseAudioDevice(m_device, run ? 0 : 1);
        return true;
    }

    void CloseDevice() override {
        if (!m_device)
            return;
        std::lock_guard<std::mutex> audioLock(SdlAudioLock());
        // Waits for SDL's audio thread; no callback runs afterwards.
        SDL_CloseAudioDevice(m_device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_device = 0;
    }

private:
    static void SDLCALL AudioCallback(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<CSdlWaveIn*>(userdata);
        if (len > 0)
            self->m_buffers.Write(stream, static_cast<size_t>(len));
    }

    SDL_AudioDeviceID m_device = 0;
};

}  // namespace

std::unique_ptr<IWaveInDevice> CreateSdlWaveInDevice() { return std::make_unique<CSdlWaveIn>(); }
