// A bound on what SDL and SDL_mixer may allocate at once.
#pragma once

#include <cstddef>
#include <mutex>

// Page sounds are decoded whole into memory, and a small compressed file can hold
// hours of sound. No single allocation of SDL's may exceed this, so a sound that
// would decode to more (about 12 minutes at 44.1 kHz stereo) fails to open, as a
// damaged one does, instead of taking gigabytes. Decoding one peaks at about twice it.
constexpr size_t kMaxSdlAllocation = size_t{128} << 20;

// Puts that bound on SDL's allocator. Safe to call at any time and from any thread:
// the allocator stays the C library's, so blocks from before and after mix freely.
void LimitSdlAllocations();

// Held around SDL's audio subsystem start and stop and around opening and closing an
// audio device: the page sounds close theirs from a thread of their own, and SDL's
// counting of subsystem users is not safe across threads.
std::mutex& SdlAudioLock();
