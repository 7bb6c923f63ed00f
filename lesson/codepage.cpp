#include "codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

// One conversion descriptor per direction and thread, opened on first use: opening
// one per string would cost more than converting the short texts of a lesson.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (Ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return m_cd;
    }

private:
    iconv_t m_cd;
};

Converter& FromCp949() {
    thread_local Converter c("UTF-8", "CP949");
    return c;
}
Converter& ToCp949() {
    thread_local Converter c("CP949", "UTF-8");
    return c;
}
Converter& Utf16ToCp949() {
    thread_local Converter c("CP949", "UTF-16LE");
    return c;
}

enum class Stop { Done, Invalid, Incomplete, Failed };

// Converts as much of [*in, *in + *left) as possible, appending to out.
Stop Run(iconv_t cd, const char** in, size_t* left, std::string& out) {
    char buf[1024];
    while (*left > 0) {
        char* src = const_cast<char*>(*in);
        char* dst = buf;
        size_t room = sizeof(buf);
        size_t r = iconv(cd, &src, left, &dst, &room);
        int err = errno;
        *in = src;
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r != static_cast<size_t>(-1))
            continue;
        if (err == E2BIG)
            continue;
        if (err == EILSEQ)
            return Stop::Invalid;
        if (err == EINVAL)
            return Stop::Incomplete;
        return Stop::Failed;
    }
    return Stop::Done;
}

// Flushes any shift state left in the descriptor.
void Finish(iconv_t cd, std::string& out) {
    char buf[64];
    char* dst = buf;
    size_t room = sizeof(buf);
    if (iconv(cd, nullptr, nullptr, &dst, &room) != static_cast<size_t>(-1))
        out.append(buf, static_cast<size_t>(dst - buf));
}

}  // namespace

bool Cp949ToUtf8(const std::string& in, std::string& out) {
    out.clear();
    Converter& conv = FromCp949();
    if (!conv.Ok()) {
        out = in;
        return false;
    }
    iconv_t cd = conv.Get();
    const char* p = in.data();
    size_t left = in.size();
    bool clean = true;
    static const char kReplacement[] = "\xEF\xBF\xBD";
    while (left > 0) {
        Stop s = Run(cd, &p, &left, out);
        if (s == Stop::Done)
            break;
        // Skip one byte and go on: a stray byte must not hide the rest of the text.
        clean = false;
        out.append(kReplacement);
        ++p;
        --left;
        conv.Get();
    }
    Finish(cd, out);
    return clean;
}

bool Utf8ToCp949(const std::string& in, std::string& out) {
    out.clear();
    Converter& conv = ToCp949();
    if (!conv.Ok())
        return false;
    iconv_t cd = conv.Get();
    const char* p = in.data();
    size_t left = in.size();
    if (Run(cd, &p, &left, out) != Stop::Done) {
        out.clear();
        return false;
    }
    Finish(cd, out);
    return true;
}

bool Utf16LeToCp949(const std::string& in, std::string& out) {
    out.clear();
    if (in.size() % 2 != 0)
        return false;
    Converter& conv = Utf16ToCp949();
    if (!conv.Ok())
        return false;
    iconv_t cd = conv.Get();
    const char* p = in.data();
    size_t left = in.size();
    while (left > 0) {
        Stop s = Run(cd, &p, &left, out);
        if (s == Stop::Done)
            break;
        // The unit at p cannot be converted: a character outside CP949 (one unit, or a
        // surrogate pair of two) or a lone surrogate. It becomes one "?".
        size_t skip = 2;
        if (left >= 4) {
            unsigned hi = static_cast<unsigned char>(p[0]) | (static_cast<unsigned char>(p[1]) << 8);
            unsigned lo = static_cast<unsigned char>(p[2]) | (static_cast<unsigned char>(p[3]) << 8);
            if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF)
                skip = 4;
        }
        if (skip > left)
            skip = left;
        out.push_back('?');
        p += skip;
        left -= skip;
        conv.Get();
    }
    Finish(cd, out);
    return true;
}
