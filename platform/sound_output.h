// Sound output for the page sounds: one open sound file at a time per device object,
// played asynchronously from a position in milliseconds. The real backend plays through
// SDL audio; the simulated one runs on a tick clock so tests can script playback.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// One open sound. Positions and lengths are whole milliseconds; once the sound has run
// to its end by itself, PositionMs() equals LengthMs() exactly.
class ISoundDevice {
public:
    virtual ~ISoundDevice() = default;
    // Starts playback from the current position and returns at once. Playing at the end
    // plays nothing. False when the device refused.
    virtual bool Play() = 0;
    // Stops playback; the position stays where it was.
    virtual void Stop() = 0;
    // Moves the position to the start; a playing sound goes on from there.
    virtual void SeekToStart() = 0;
    virtual uint32_t PositionMs() = 0;
    virtual uint32_t LengthMs() = 0;
};

class ISoundOutput {
public:
    virtual ~ISoundOutput() = default;
    // Opens a WAV, MP3 or OGG file. The path is a byte string (file names from lessons
    // may be CP949) and is used as it stands. Null when the file cannot be played or no
    // sound output is available.
    virtual std::unique_ptr<ISoundDevice> Open(const std::string& path) = 0;
    // Whether a sound could be heard now: false when no output device opens. Tells a
    // file that failed to open from an output that is missing.
    virtual bool HasOutput() { return true; }
};

// The process's sound output, chosen on first use: VORUR_SOUND=sim gives the simulated
// output on the system clock, anything else the SDL output.
ISoundOutput& DefaultSoundOutput();
