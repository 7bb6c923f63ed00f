#include "sound_sdl.h"

#include "capture_route.h"
#include "sdl_memory.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// 44.1 kHz 16-bit stereo is what lesson sounds are made in, so most files need no
// resampling. A power-of-two buffer keeps SDL's dummy driver at real-time pace; 1024
// frames (23 ms) keeps a stop audible at once.
constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kBufferFrames = 1024;
// After a failed attempt to open the audio device, wait this long before trying again,
// so a machine without sound does not probe its drivers on every page.
constexpr auto kRetryAfter = std::chrono::seconds(3);
// A device that went away is replaced when an output opens again, looked for this often.
constexpr auto kReopenEvery = std::chrono::seconds(1);
// With nothing to play for this long the device is closed: SDL's audio thread would
// otherwise mix silence for ever and keep the sound server's sink from suspending.
// Long enough that Stop then Play, or a page change then Play, keeps the device.
constexpr auto kCloseWhenIdleAfter = std::chrono::seconds(1);
// A queued sound whose device has taken nothing for this long (a sound server that
// hangs) goes on on the clock instead, so that its page, and a run, still end. Longer
// than the largest block a slow sink asks for at once.
constexpr auto kStalledAfter = std::chrono::seconds(3);

// A decoded sound, freed without SDL_mixer: the chunk was never given to a mixer
// channel, so no lock of the mixer is needed, and it may go while the device is closed.
void FreeChunk(Mix_Chunk* chunk) {
    if (!chunk)
        return;
    if (chunk->allocated)
        SDL_free(chunk->abuf);
    SDL_free(chunk);
}

// A decoded sound and its playing cursor. Every field but the samples is guarded by the
// output's lock, which the audio callback takes too.
struct Voice {
    const Uint8* samples = nullptr;
    uint32_t frames = 0;
    uint32_t cursor = 0;
    bool queued = false;  // in the list the audio callback mixes
    // Played while no device would open: the cursor runs on the clock from here, so the
    // page keeps its length, silently, as on a device that went away.
    bool silent = false;
    std::chrono::steady_clock::time_point movedAt;  // queued, or last mixed
    std::chrono::steady_clock::time_point silentSince;
    uint32_t silentFrom = 0;
};

class CSdlSoundOutput;

class CSdlSoundDevice : public ISoundDevice {
public:
    CSdlSoundDevice(CSdlSoundOutput& output, Mix_Chunk* chunk, uint32_t frames);
    ~CSdlSoundDevice() override;
    CSdlSoundDevice(const CSdlSoundDevice&) = delete;
    CSdlSoundDevice& operator=(const CSdlSoundDevice&) = delete;

    bool Play() override;
    void Stop() override;
    void SeekToStart() override;
    uint32_t PositionMs() override;
    uint32_t LengthMs() override;

private:
    CSdlSoundOutput& m_output;
    Mix_Chunk* m_chunk;
    Voice m_voice;
};

class CSdlSoundOutput : public ISoundOutput {
public:
    std::unique_ptr<ISoundDevice> Open(const std::string& path) override {
        std::lock_guard<std::mutex> openLock(m_openLock);
        if (!EnsureAudio())
            return nullptr;
        SDL_RWops* rw = SDL_RWFromFile(path.c_str(), "rb");
        if (!rw)
            return nullptr;
        // Decoding the whole file up front gives an exact length and lets the callback
        // position by frame count; a page sound of a few seconds decodes in a few ms.
        Mix_Chunk* chunk = Mix_LoadWAV_RW(rw, 1);
        // Opened for decoding only, the device goes again unless a Play follows.
        CloseWhenIdle();
        if (!chunk)
            return nullptr;
        uint32_t frames = chunk->alen / static_cast<uint32_t>(m_frameBytes);
        return std::make_unique<CSdlSoundDevice>(*this, chunk, frames);
    }

    // Asks for a device without keeping one: it is closed again when nothing plays.
    bool HasOutput() override {
        std::lock_guard<std::mutex> openLock(m_openLock);
        const bool open = EnsureAudio();
        CloseWhenIdle();
        return open;
    }

    // Play: the device is opened (again, when it went away or was closed while
    // nothing played) before the sound is queued, so the sound is heard.
    void Start(Voice* voice) {
        std::lock_guard<std::mutex> openLock(m_openLock);
        if (EnsureAudio()) {
            Queue(voice);
            return;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        if (voice->silent || voice->cursor >= voice->frames)
            return;
        voice->silent = true;
        voice->silentSince = std::chrono::steady_clock::now();
        voice->silentFrom = voice->cursor;
    }

    bool DeviceOpen() {
        std::lock_guard<std::mutex> openLock(m_openLock);
        return m_audioOpen;
    }

    void Queue(Voice* voice) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (voice->silent) {
            voice->cursor = SilentCursor(*voice);
            voice->silent = false;
        }
        if (voice->queued || voice->cursor >= voice->frames)
            return;
        voice->queued = true;
        voice->movedAt = std::chrono::steady_clock::now();
        m_queue.push_back(voice);
    }

    void Unqueue(Voice* voice) {
        bool idle;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (voice->silent) {
                voice->cursor = SilentCursor(*voice);
                voice->silent = false;
            }
            UnqueueLocked(voice);
            idle = m_queue.empty();
        }
        if (idle)
            CloseWhenIdle();
    }

    void Rewind(Voice* voice) {
        std::lock_guard<std::mutex> lock(m_lock);
        voice->cursor = 0;
        voice->silentFrom = 0;
        voice->silentSince = std::chrono::steady_clock::now();
    }

    uint32_t CursorMs(Voice* voice) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (voice->queued && std::chrono::steady_clock::now() - voice->movedAt >= kStalledAfter) {
            // The device stopped taking sound: the rest of it passes unheard, from
            // where the device stopped, as on a device that went away.
            UnqueueLocked(voice);
            voice->silent = true;
            voice->silentSince = voice->movedAt;
            voice->silentFrom = voice->cursor;
        }
        const uint32_t cursor = voice->silent ? SilentCursor(*voice) : voice->cursor;
        uint32_t ms = FramesToMs(cursor);
        // The length is read as "ended": inside the last millisecond, not yet.
        if (cursor < voice->frames && ms == FramesToMs(voice->frames) && ms > 0)
            --ms;
        return ms;
    }

    uint32_t SilentCursor(const Voice& voice) const {
        const auto elapsed = std::chrono::steady_clock::now() - voice.silentSince;
        const uint64_t frames = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) * static_cast<uint64_t>(m_rate) / 1000u;
        return static_cast<uint32_t>(std::min<uint64_t>(voice.frames, voice.silentFrom + frames));
    }

    uint32_t FramesToMs(uint32_t frames) const {
        return static_cast<uint32_t>(static_cast<uint64_t>(frames) * 1000u / static_cast<uint32_t>(m_rate));
    }

private:
    // With m_openLock held.
    bool EnsureAudio() {
        if (m_audioOpen) {
            // A device that went away (its sound server restarted, it was unplugged)
            // still takes the sound at its pace, silently, so pages keep their length;
            // it is replaced once a new one opens.
            m_lost = m_lost || OutputWentAway();
            if (m_lost)
                Reopen();
            return m_audioOpen;
        }
        auto now = std::chrono::steady_clock::now();
        if (m_failedBefore && now - m_lastFailure < kRetryAfter)
            return false;
        LimitSdlAllocations();
        // SDL would otherwise turn SIGINT and SIGTERM into events nobody reads, and
        // the process could no longer be stopped.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        std::lock_guard<std::mutex> audioLock(SdlAudioLock());
        // Reference-counted: the voice recorder may hold the audio subsystem as well.
        // This output holds it while its device is open, so each opening after an idle
        // close meets the sound server as it is now, restarted or not.
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            Failed(now);
            return false;
        }
        // A decoder that fails to load shows up later as a file that does not open.
        if (!m_mixInit) {
            Mix_Init(MIX_INIT_MP3 | MIX_INIT_OGG);
            m_mixInit = true;
        }
        if (!OpenMixer()) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            Failed(now);
            return false;
        }
        m_failedBefore = false;
        m_lost = false;
        return true;
    }

    void Failed(std::chrono::steady_clock::time_point now) {
        m_failedBefore = true;
        m_lastFailure = now;
    }

    // The mixer's device, in the format the decoded sounds are kept in; false with
    // nothing open.
    bool OpenMixer() {
        if (Mix_OpenAudioDevice(kRate, AUDIO_S16SYS, kChannels, kBufferFrames, nullptr, 0) != 0)
            return false;
        int rate = 0;
        Uint16 format = 0;
        int channels = 0;
        if (Mix_QuerySpec(&rate, &format, &channels) == 0 || rate <= 0 || channels <= 0) {
            Mix_CloseAudio();
            return false;
        }
        m_rate = rate;
        m_format = format;
        m_frameBytes = channels * static_cast<int>(SDL_AUDIO_BITSIZE(format) / 8);
        m_silence = SDL_AUDIO_ISSIGNED(format) ? 0 : 0x80;
        // The hook replaces the mixer's music stream: it is called for every buffer the
        // device takes, before the (unused) channels are added.
        m_lastMix.store(std::chrono::steady_clock::now().time_since_epoch().count());
        Mix_HookMusic(&CSdlSoundOutput::MixHook, this);
        m_audioOpen = true;
        return true;
    }

    // SDL tells of an opened device that went away once, by an event (a device that
    // was not opened has number 0). Nothing else here reads the audio events.
    static bool OutputWentAway() {
        SDL_Event events[8];
        bool gone = false;
        int n;
        while ((n = SDL_PeepEvents(events, 8, SDL_GETEVENT, SDL_AUDIODEVICEADDED, SDL_AUDIODEVICEREMOVED)) > 0) {
            for (int i = 0; i < n; ++i)
                gone = gone || (events[i].type == SDL_AUDIODEVICEREMOVED && events[i].adevice.which != 0 &&
                                !events[i].adevice.iscapture);
        }
        return gone;
    }

    // Replaces a lost device once an output can be opened again. Asking costs a
    // connection to the sound server, so it is done at most every kReopenEvery, and
    // not while the server is taken as hung: its connect has no time-out.
    void Reopen() {
        auto now = std::chrono::steady_clock::now();
        if (m_reopenTried && now - m_lastReopen < kReopenEvery)
            return;
        m_reopenTried = true;
        m_lastReopen = now;
        if (ServerSeemsHung())
            return;
        std::lock_guard<std::mutex> audioLock(SdlAudioLock());
        if (!OutputAvailable())
            return;
        Mix_CloseAudio();
        m_audioOpen = false;
        m_lost = false;
        if (!OpenMixer()) {
            // As after a failed first open: tried again from scratch later.
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            Failed(now);
        }
    }

    // Closes the device and lets go of the audio subsystem, with m_openLock held:
    // no audio thread and no stream remain. Decoded sounds keep their samples, which
    // are already in the format the next device is opened in.
    void CloseAudio() {
        if (!m_audioOpen)
            return;
        std::lock_guard<std::mutex> audioLock(SdlAudioLock());
        Mix_HookMusic(nullptr, nullptr);
        Mix_CloseAudio();
        // News of the closed device is of no use to the next one.
        SDL_FlushEvents(SDL_AUDIODEVICEADDED, SDL_AUDIODEVICEREMOVED);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_audioOpen = false;
        m_lost = false;
    }

    // The device is to be closed once nothing has played for kCloseWhenIdleAfter. A
    // thread of ours does it, since SDL waits for its audio thread to finish (up to a
    // second and more on some sound servers), and it sleeps until asked again.
    void CloseWhenIdle() {
        std::lock_guard<std::mutex> lock(m_idleLock);
        m_closeAt = std::chrono::steady_clock::now() + kCloseWhenIdleAfter;
        m_closeAsked = true;
        if (!m_closer.joinable())
            m_closer = std::thread([this] { CloserLoop(); });
        m_idleWake.notify_one();
    }

    void CloserLoop() {
        std::unique_lock<std::mutex> lock(m_idleLock);
        for (;;) {
            m_idleWake.wait(lock, [this] { return m_closeAsked; });
            const auto at = m_closeAt;
            // Asked again meanwhile: the time starts anew.
            if (m_idleWake.wait_until(lock, at, [this, at] { return m_closeAt != at; }))
                continue;
            m_closeAsked = false;
            lock.unlock();
            const bool again = CloseIfIdle();
            lock.lock();
            if (again && !m_closeAsked) {
                m_closeAt = std::chrono::steady_clock::now() + kCloseWhenIdleAfter;
                m_closeAsked = true;
            }
        }
    }

    // True when the device must stay for now and is to be looked at again later.
    bool CloseIfIdle() {
        std::lock_guard<std::mutex> openLock(m_openLock);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_queue.empty())
                return false;  // a sound plays; its end asks again
        }
        // A recording of the playback-mix line counts what is played against its own
        // clock: the device keeps running while one goes on.
        if (CPlaybackTap::Instance().IsAttached())
            return true;
        // Closing waits for SDL's audio thread, which waits on a sound server that has
        // stopped answering; with the open lock held that would stall every Open and
        // Play behind it. Such a device is closed once it mixes again.
        if (m_audioOpen && (ServerSeemsHung() || SinceLastMix() > kStalledAfter))
            return true;
        CloseAudio();
        return false;
    }

    static void SDLCALL Silence(void*, Uint8* stream, int len) { SDL_memset(stream, 0, static_cast<size_t>(len)); }

    // Whether an output device opens now; it is closed again at once.
    static bool OutputAvailable() {
        SDL_AudioSpec want{};
        want.freq = kRate;
        want.format = AUDIO_S16SYS;
        want.channels = kChannels;
        want.samples = kBufferFrames;
        want.callback = &CSdlSoundOutput::Silence;
        SDL_AudioDeviceID probe = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        if (probe == 0)
            return false;
        SDL_CloseAudioDevice(probe);
        return true;
    }

    void UnqueueLocked(Voice* voice) {
        if (!voice->queued)
            return;
        voice->queued = false;
        m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), voice), m_queue.end());
    }

    std::chrono::steady_clock::duration SinceLastMix() const {
        const auto last = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_lastMix.load()));
        return std::chrono::steady_clock::now() - last;
    }

    // Runs on SDL's audio thread.
    static void MixHook(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<CSdlSoundOutput*>(userdata);
        self->m_lastMix.store(std::chrono::steady_clock::now().time_since_epoch().count());
        SDL_memset(stream, self->m_silence, static_cast<size_t>(len));
        const uint32_t want = static_cast<uint32_t>(len / self->m_frameBytes);
        bool ended = false;
        std::unique_lock<std::mutex> lock(self->m_lock);
        for (size_t i = 0; i < self->m_queue.size();) {
            Voice* voice = self->m_queue[i];
            uint32_t n = std::min(want, voice->frames - voice->cursor);
            if (n > 0) {
                SDL_MixAudioFormat(stream, voice->samples + static_cast<size_t>(voice->cursor) * self->m_frameBytes,
                                   self->m_format, n * static_cast<uint32_t>(self->m_frameBytes), SDL_MIX_MAXVOLUME);
                voice->cursor += n;
                voice->movedAt = std::chrono::steady_clock::now();
            }
            if (voice->cursor >= voice->frames) {
                // Ended by itself: the cursor rests on the last frame, so the position
                // reads exactly the length.
                voice->queued = false;
                self->m_queue.erase(self->m_queue.begin() + static_cast<std::ptrdiff_t>(i));
                ended = true;
            } else {
                ++i;
            }
        }
        const bool idle = ended && self->m_queue.empty();
        lock.unlock();
        if (idle)
            self->CloseWhenIdle();
        // A recording of the playback-mix line adds what was played here.
        CPlaybackTap& tap = CPlaybackTap::Instance();
        if (tap.IsAttached() && self->m_format == AUDIO_S16SYS && self->m_frameBytes == 4 && self->m_rate == kRate)
            tap.Push(reinterpret_cast<const int16_t*>(stream), want);
    }

    std::mutex m_openLock;  // one Open at a time; the device opens and closes under it
    bool m_audioOpen = false;
    bool m_mixInit = false;
    bool m_failedBefore = false;  // the last attempt to open a device failed
    std::chrono::steady_clock::time_point m_lastFailure;
    bool m_lost = false;  // the open device went away
    bool m_reopenTried = false;
    std::chrono::steady_clock::time_point m_lastReopen;
    int m_rate = kRate;
    SDL_AudioFormat m_format = AUDIO_S16SYS;
    int m_frameBytes = 4;
    Uint8 m_silence = 0;

    std::atomic<int64_t> m_lastMix{0};  // when the audio callback last ran, steady clock
    std::mutex m_lock;  // shared with the audio callback; no SDL call is made under it
    std::vector<Voice*> m_queue;

    std::mutex m_idleLock;  // the closing thread's state; taken last, never held across SDL calls
    std::condition_variable m_idleWake;
    bool m_closeAsked = false;
    std::chrono::steady_clock::time_point m_closeAt;
    std::thread m_closer;  // never joined: the output lives as long as the process
};

CSdlSoundDevice::CSdlSoundDevice(CSdlSoundOutput& output, Mix_Chunk* chunk, uint32_t frames)
    : m_output(output), m_chunk(chunk) {
    m_voice.samples = chunk->abuf;
    m_voice.frames = frames;
}

CSdlSoundDevice::~CSdlSoundDevice() {
    // Out of the callback's list first; only then may the samples go.
    m_output.Unqueue(&m_voice);
    FreeChunk(m_chunk);
}

bool CSdlSoundDevice::Play() {
    m_output.Start(&m_voice);
    return true;
}

void CSdlSoundDevice::Stop() { m_output.Unqueue(&m_voice); }

void CSdlSoundDevice::SeekToStart() { m_output.Rewind(&m_voice); }

uint32_t CSdlSoundDevice::PositionMs() { return m_output.CursorMs(&m_voice); }

uint32_t CSdlSoundDevice::LengthMs() { return m_output.FramesToMs(m_voice.frames); }

}  // namespace

namespace {

CSdlSoundOutput& TheOutput() {
    // Never destroyed: SDL's audio thread may still call the hook while the process
    // exits, and the hook must find the output alive.
    static CSdlSoundOutput* output = new CSdlSoundOutput;
    return *output;
}

}  // namespace

ISoundOutput& SdlSoundOutput() { return TheOutput(); }

bool SdlSoundDeviceOpen() { return TheOutput().DeviceOpen(); }
