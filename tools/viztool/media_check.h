// Whether a page's picture and sound decode, with the libraries the player uses.
#pragma once

#include <string>

// Call once before the checks; false when the sound decoders cannot be set up.
bool InitMediaCheck(std::string* why);
void ShutdownMediaCheck();

// False, with the decoder's reason, when the file does not decode.
bool PictureDecodes(const std::string& path, std::string* why);
bool SoundDecodes(const std::string& path, std::string* why);
