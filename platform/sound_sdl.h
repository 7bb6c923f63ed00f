// The SDL sound output: files are decoded whole by SDL_mixer on Open and fed to the
// audio device by our own cursor, so positions count the frames handed to the device.
#pragma once

#include "sound_output.h"

// The process-wide SDL output. The audio device is opened when a sound is decoded or
// played (and retried later if it could not be opened), and closed again, with SDL's
// audio thread and the sound server's stream, once nothing has played for a second.
ISoundOutput& SdlSoundOutput();
// Whether the output holds an audio device now.
bool SdlSoundDeviceOpen();
