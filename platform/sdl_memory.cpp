#include "sdl_memory.h"

#include <SDL.h>

#include <cstdlib>
#include <mutex>

namespace {

void* BoundedMalloc(size_t size) { return size > kMaxSdlAllocation ? nullptr : std::malloc(size); }

void* BoundedCalloc(size_t count, size_t size) {
    if (size != 0 && count > kMaxSdlAllocation / size)
        return nullptr;
    return std::calloc(count, size);
}

void* BoundedRealloc(void* block, size_t size) {
    return size > kMaxSdlAllocation ? nullptr : std::realloc(block, size);
}

}  // namespace

void LimitSdlAllocations() {
    static std::once_flag once;
    std::call_once(once, [] { SDL_SetMemoryFunctions(BoundedMalloc, BoundedCalloc, BoundedRealloc, std::free); });
}

std::mutex& SdlAudioLock() {
    static std::mutex* lock = new std::mutex;  // never destroyed: used by threads ending at exit
    return *lock;
}
