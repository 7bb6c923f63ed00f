// What this player's own capture stream records, and what it plays for the
// playback-mix line. The recording mixer's selector and its playback-mix controls
// write the route; the wave-in device reads it when it opens. Nothing here reaches
// the sound server's settings: choosing a line never changes the desktop.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Where the capture stream comes from: SDL's default recording device (its dummy
// and disk drivers stand in for a sound card in tests), or a source of the sound
// server that the mixer layer describes.
enum class CaptureServer { Sdl, Pulse };

struct CaptureRoute {
    CaptureServer server = CaptureServer::Sdl;
    std::string source;        // the server's source name; empty: its default source
    bool mixPlayback = false;  // the playback-mix line: add what this player plays
};

// The page sound's volume in the playback mix at 100 %.
constexpr uint32_t kPlaybackMixUnity = 65536;

CaptureRoute GetCaptureRoute();
void SetCaptureServer(CaptureServer server);
void SetCaptureSource(const std::string& source, bool mixPlayback);
// 0..kPlaybackMixUnity; larger values count as unity.
uint32_t GetPlaybackMixVolume();
void SetPlaybackMixVolume(uint32_t volume);
bool GetPlaybackMixMute();
void SetPlaybackMixMute(bool mute);
// The page sound's gain as it applies now: 0 while muted.
uint32_t PlaybackMixGain();
// Back to the start-up route: SDL, the default source, no mix, full volume, muted
// off. For tests.
void ResetCaptureRouteForTesting();

// A sound server that let one of this player's calls wait in vain is taken as hung
// for kHungServerSeconds: calls that the window waits for then fail at once instead
// of waiting again, so a stopped server costs the window one time-out, not one per
// call. Any answer from the server ends it. Thread-safe.
constexpr int kHungServerSeconds = 3;
void NoteServerHung();
void NoteServerAnswered();
bool ServerSeemsHung();

// What this player plays, handed from the sound output's audio thread to the
// capture's, so that a recording of the playback-mix line holds the page sounds as
// they were played. 44.1 kHz stereo 16-bit frames. Thread-safe.
//
// Both ends run in real time on clocks of their own. The capture takes the oldest
// frames first; when it falls more than kMaxLagFrames behind (a burst of captured
// sound, clocks drifting apart) the oldest are skipped down to kTargetLagFrames, and
// what is missing is silence. So the page sound lands within one capture buffer of
// where it was heard, two at most, and a burst of several seconds still finds its
// page sound.
class CPlaybackTap {
public:
    static constexpr size_t kCapacityFrames = 6 * 44100;
    static constexpr size_t kMaxLagFrames = 2048;
    static constexpr size_t kTargetLagFrames = 1024;

    // The process's tap, between the page-sound output and the capture.
    static CPlaybackTap& Instance();

    // The capture begins to take frames: the output hands them over from now on.
    void Attach();
    void Detach();
    bool IsAttached() const { return m_attached.load(std::memory_order_acquire); }

    // The output played these frames; ignored while nothing is attached.
    void Push(const int16_t* samples, size_t frames);
    // Adds the next `frames` played frames, scaled by gain / kPlaybackMixUnity, to
    // `samples`, clipped to 16 bits.
    void MixInto(int16_t* samples, size_t frames, uint32_t gain);

    // Frames skipped to catch up, and frames of the capture that found nothing
    // played yet, since the last Attach.
    uint64_t SkippedFrames() const;
    uint64_t MissingFrames() const;

private:
    mutable std::mutex m_lock;
    std::atomic<bool> m_attached{false};
    std::vector<int16_t> m_ring;  // kCapacityFrames stereo frames, allocated on the first Attach
    size_t m_read = 0;            // frame index of the oldest frame
    size_t m_count = 0;           // frames held
    uint64_t m_skipped = 0;
    uint64_t m_missing = 0;
};
