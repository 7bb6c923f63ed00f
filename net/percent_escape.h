// "%XX" escapes, as URLs and the outbox's file names write bytes that may not
// stand as they are.
#pragma once

#include <string>

inline void AppendPercentEscaped(std::string& out, unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}
