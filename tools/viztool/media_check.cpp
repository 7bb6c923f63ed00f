#include "media_check.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <SDL.h>
#include <SDL_mixer.h>

#include "sdl_memory.h"

bool InitMediaCheck(std::string* why) {
    // Decoding needs no sound card: the dummy driver takes the place of one.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    LimitSdlAllocations();
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        if (why)
            *why = SDL_GetError();
        return false;
    }
    Mix_Init(MIX_INIT_MP3 | MIX_INIT_OGG);
    if (Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 4096) != 0) {
        if (why)
            *why = Mix_GetError();
        Mix_Quit();
        SDL_Quit();
        return false;
    }
    return true;
}

void ShutdownMediaCheck() {
    Mix_CloseAudio();
    Mix_Quit();
    SDL_Quit();
}

bool PictureDecodes(const std::string& path, std::string* why) {
    // Read the bytes ourselves: the name is CP949 bytes, which Qt would take for UTF-8.
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (why)
            *why = "cannot be read";
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    QByteArray data = QByteArray::fromStdString(bytes.str());
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    // The player's bound on a decoded picture.
    QImageReader::setAllocationLimit(128);
    QImageReader reader(&buffer);
    QImage image = reader.read();
    if (image.isNull()) {
        if (why)
            *why = reader.errorString().toStdString();
        return false;
    }
    return true;
}

bool SoundDecodes(const std::string& path, std::string* why) {
    // Loading as a chunk decodes the whole stream, so damage anywhere shows.
    Mix_Chunk* chunk = Mix_LoadWAV(path.c_str());
    if (!chunk) {
        // The player decodes a page sound whole, within the same bound.
        const std::string error = Mix_GetError();
        if (why)
            *why = error == "Out of memory" ? "it decodes to more than the player holds of one sound, "
                                              "128 MiB (about 12 minutes)"
                                            : error;
        return false;
    }
    bool audible = chunk->alen > 0;
    Mix_FreeChunk(chunk);
    if (!audible && why)
        *why = "no sound in it";
    return audible;
}
