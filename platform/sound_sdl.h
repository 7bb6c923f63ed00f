// The SDL sound output: files are decoded whole by SDL_mixer on Open and fed to the
// audio device by our own cursor, so positions count the frames handed to the device.
#pragma once

#include "sound_output.h"

// The process-wide SDL output. The audio device is opened on the first Open (and retried
// later if it could not be opened); it stays open for the life of the process.
ISoundOutput& SdlSoundOutput();
