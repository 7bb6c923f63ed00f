// A sound output without sound: each opened file plays on a tick clock, so tests of the
// player can script lengths, failures and the passing of time, and read back what was
// done to which sound.
#pragma once

#include "sound_output.h"
#include "tick_clock.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One thing done to a simulated sound. op is "open", "fail" (an open that failed),
// "play", "stop", "seek" or "close"; path is the path given to Open.
struct SimSoundEvent {
    std::string op;
    std::string path;
    uint32_t positionMs = 0;  // the sound's position when it happened
};

class CSimSoundOutput : public ISoundOutput {
public:
    explicit CSimSoundOutput(ITickClock& clock, uint32_t defaultLengthMs = 2000);
    ~CSimSoundOutput() override;

    // Files that do not exist (or are not regular files) fail to open, as do those
    // named in FailOpen. Everything else opens with its set length or the default one.
    std::unique_ptr<ISoundDevice> Open(const std::string& path) override;
    bool HasOutput() override;

    // A name without '/' matches any path ending in that file name; a name with '/'
    // matches that path only. The latest setting for a name wins.
    void SetLength(const std::string& pathOrFileName, uint32_t ms);
    void SetDefaultLength(uint32_t ms);
    void FailOpen(const std::string& pathOrFileName);
    // The sound opens, but Play is refused and the position never moves.
    void FailPlay(const std::string& pathOrFileName);
    // No output device: every Open fails until it is given back.
    void SetHasOutput(bool available);

    std::vector<SimSoundEvent> Events() const;
    // The events as "op filename" lines, e.g. "play p1.mp3".
    std::vector<std::string> Log() const;
    void ClearLog();
    // Sounds opened and not yet closed.
    int OpenCount() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
