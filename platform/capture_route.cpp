#include "capture_route.h"

#include <algorithm>
#include <chrono>

namespace {

std::mutex g_routeLock;
CaptureRoute g_route;
std::atomic<uint32_t> g_playbackVolume{kPlaybackMixUnity};
std::atomic<bool> g_playbackMute{false};
// When the server was last found hung, in steady-clock ticks; 0: it answers.
std::atomic<int64_t> g_hungSince{0};

int16_t Clip(int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX)); }

}  // namespace

CaptureRoute GetCaptureRoute() {
    std::lock_guard<std::mutex> guard(g_routeLock);
    return g_route;
}

void SetCaptureServer(CaptureServer server) {
    std::lock_guard<std::mutex> guard(g_routeLock);
    g_route.server = server;
}

void SetCaptureSource(const std::string& source, bool mixPlayback) {
    std::lock_guard<std::mutex> guard(g_routeLock);
    g_route.source = source;
    g_route.mixPlayback = mixPlayback;
}

uint32_t GetPlaybackMixVolume() { return g_playbackVolume.load(std::memory_order_relaxed); }
void SetPlaybackMixVolume(uint32_t volume) {
    g_playbackVolume.store(std::min(volume, kPlaybackMixUnity), std::memory_order_relaxed);
}
bool GetPlaybackMixMute() { return g_playbackMute.load(std::memory_order_relaxed); }
void SetPlaybackMixMute(bool mute) { g_playbackMute.store(mute, std::memory_order_relaxed); }
uint32_t PlaybackMixGain() { return GetPlaybackMixMute() ? 0 : GetPlaybackMixVolume(); }

void ResetCaptureRouteForTesting() {
    {
        std::lock_guard<std::mutex> guard(g_routeLock);
        g_route = CaptureRoute();
    }
    SetPlaybackMixVolume(kPlaybackMixUnity);
    SetPlaybackMixMute(false);
}

void NoteServerHung() {
    // Never 0, which means "answers".
    g_hungSince.store(std::max<int64_t>(std::chrono::steady_clock::now().time_since_epoch().count(), 1));
}

void NoteServerAnswered() { g_hungSince.store(0); }

bool ServerSeemsHung() {
    int64_t since = g_hungSince.load();
    if (since == 0)
        return false;
    auto then = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(since));
    return std::chrono::steady_clock::now() - then < std::chrono::seconds(kHungServerSeconds);
}

CPlaybackTap& CPlaybackTap::Instance() {
    // Never destroyed: an audio thread may still hand frames over while the process exits.
    static CPlaybackTap* tap = new CPlaybackTap();
    return *tap;
}

void CPlaybackTap::Attach() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_ring.empty())
        m_ring.assign(kCapacityFrames * 2, 0);
    m_read = m_count = 0;
    m_skipped = m_missing = 0;
    m_attached.store(true, std::memory_order_release);
}

void CPlaybackTap::Detach() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_attached.store(false, std::memory_order_release);
    m_read = m_count = 0;
}

void CPlaybackTap::Push(const int16_t* samples, size_t frames) {
    if (!IsAttached())
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_attached.load(std::memory_order_relaxed) || m_ring.empty())
        return;
    // Only the newest frames fit when the capture has stopped taking them.
    if (frames > kCapacityFrames) {
        samples += (frames - kCapacityFrames) * 2;
        frames = kCapacityFrames;
    }
    size_t overflow = m_count + frames > kCapacityFrames ? m_count + frames - kCapacityFrames : 0;
    m_read = (m_read + overflow) % kCapacityFrames;
    m_count -= overflow;
    m_skipped += overflow;
    size_t write = (m_read + m_count) % kCapacityFrames;
    while (frames > 0) {
        size_t n = std::min(frames, kCapacityFrames - write);
        std::copy(samples, samples + n * 2, m_ring.begin() + static_cast<std::ptrdiff_t>(write * 2));
        samples += n * 2;
        frames -= n;
        m_count += n;
        write = (write + n) % kCapacityFrames;
    }
}

void CPlaybackTap::MixInto(int16_t* samples, size_t frames, uint32_t gain) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_count > frames + kMaxLagFrames) {
        size_t skip = m_count - frames - kTargetLagFrames;
        m_read = (m_read + skip) % kCapacityFrames;
        m_count -= skip;
        m_skipped += skip;
    }
    size_t take = std::min(m_count, frames);
    m_missing += frames - take;
    const int32_t g = static_cast<int32_t>(std::min(gain, kPlaybackMixUnity));
    size_t done = 0;
    while (done < take) {
        size_t n = std::min(take - done, kCapacityFrames - m_read);
        const int16_t* played = m_ring.data() + m_read * 2;
        int16_t* out = samples + done * 2;
        if (g == static_cast<int32_t>(kPlaybackMixUnity)) {
            for (size_t i = 0; i < n * 2; ++i)
                out[i] = Clip(int32_t{out[i]} + played[i]);
        } else {
            for (size_t i = 0; i < n * 2; ++i)
                out[i] = Clip(int32_t{out[i]} + static_cast<int32_t>((int64_t{played[i]} * g) >> 16));
        }
        done += n;
        m_read = (m_read + n) % kCapacityFrames;
        m_count -= n;
    }
}

uint64_t CPlaybackTap::SkippedFrames() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_skipped;
}

uint64_t CPlaybackTap::MissingFrames() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_missing;
}
