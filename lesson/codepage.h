// Conversions between the lessons' code page (CP949) and Unicode, through iconv.
#pragma once

#include <string>

// CP949 to UTF-8. Never fails hard: a byte that does not start a valid CP949
// character becomes U+FFFD and conversion goes on. True when no byte was replaced.
bool Cp949ToUtf8(const std::string& in, std::string& out);

// UTF-8 to CP949. False, with out emptied, when the input is not valid UTF-8 or
// holds a character CP949 cannot represent.
bool Utf8ToCp949(const std::string& in, std::string& out);

// UTF-16LE (bytes, an even count) to CP949. A character CP949 cannot represent, or an
// unpaired surrogate, becomes "?" (the usual best-fit default of wide-to-multibyte
// conversion). False, with out emptied, only for an odd byte count.
bool Utf16LeToCp949(const std::string& in, std::string& out);
