// Wave-in over SDL2 audio capture.

#include <SDL2/SDL.h>

#include "capture_route.h"
#include "wavein.h"

namespace {

class CSdlWaveIn : public IWaveInDevice {
public:
    ~CSdlWaveIn() override { CloseDevice(); }

    MMRESULT Open(UINT deviceId, const WAVEFORMATEX& format, IThreadMessageQueue* callback) override {
        if (m_device)
            return MMSYSERR_ALLOCATED;
        if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16 || format.nChannels < 1 ||
            format.nChannels > 2 || format.nSamplesPerSec < 8000 || format.nSamplesPerSec > 192000)
            return WAVERR_BADFORMAT;
        // SDL would otherwise turn SIGINT and SIGTERM into events nobody reads, and
        // the process could no longer be stopped.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
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
        m_buffers.SetCapturing(false);
        m_buffers.SetPlaybackTap(GetCaptureRoute().mixPlayback ? &CPlaybackTap::Instance() : nullptr);
        m_callbackQueue = callback;
        m_buffers.SetCallback(callback);
        if (callback)
            callback->PostThreadMessage(MM_WIM_OPEN, 0, 0);
        return MMSYSERR_NOERROR;
    }

    MMRESULT PrepareHeader(WAVEHDR* header) override {
        if (!m_device)
            return MMSYSERR_INVALHANDLE;
        return m_buffers.Prepare(header);
    }

    MMRESULT UnprepareHeader(WAVEHDR* header) override {
        if (!m_device)
            return MMSYSERR_INVALHANDLE;
        return m_buffers.Unprepare(header);
    }

    MMRESULT AddBuffer(WAVEHDR* header) override {
        if (!m_device)
            return MMSYSERR_INVALHANDLE;
        return m_buffers.Add(header);
    }

    MMRESULT Start() override {
        if (!m_device)
            return MMSYSERR_INVALHANDLE;
        m_buffers.SetCapturing(true);
        SDL_PauseAudioDevice(m_device, 0);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Stop() override {
        if (!m_device)
            return MMSYSERR_INVALHANDLE;
        SDL_PauseAudioDevice(m_device, 1);
        m_buffers.SetCapturing(false);
        m_buffers.ReturnPartial();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override {
        if (!m_device)
            return MMSYSERR_INVALHANDLE;
        SDL_PauseAudioDevice(m_device, 1);
        m_buffers.SetCapturing(false);
        m_buffers.ReturnAll();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() override {
        if (!m_device)
            return MMSYSERR_INVALHANDLE;
        if (m_buffers.QueuedCount() > 0)
            return WAVERR_STILLPLAYING;
        IThreadMessageQueue* callback = m_callbackQueue;
        CloseDevice();
        if (callback)
            callback->PostThreadMessage(MM_WIM_CLOSE, 0, 0);
        return MMSYSERR_NOERROR;
    }

    uint64_t DroppedBytes() const override { return m_buffers.DroppedBytes(); }

private:
    static void SDLCALL AudioCallback(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<CSdlWaveIn*>(userdata);
        if (len > 0)
            self->m_buffers.Write(stream, static_cast<size_t>(len));
    }

    void CloseDevice() {
        if (!m_device)
            return;
        // Waits for SDL's audio thread; no callback runs afterwards.
        SDL_CloseAudioDevice(m_device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_device = 0;
        m_buffers.SetCapturing(false);
        m_buffers.SetCallback(nullptr);
        m_callbackQueue = nullptr;
    }

    SDL_AudioDeviceID m_device = 0;
    IThreadMessageQueue* m_callbackQueue = nullptr;
    CWaveInBufferQueue m_buffers;
};

}  // namespace

std::unique_ptr<IWaveInDevice> CreateSdlWaveInDevice() { return std::make_unique<CSdlWaveIn>(); }
