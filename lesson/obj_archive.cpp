#include "obj_archive.h"

#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "codepage.h"

namespace {

constexpr uint16_t kNullTag = 0x0000;
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigObjectTag = 0x7FFF;
constexpr uint32_t kBigClassTag = 0x80000000u;
constexpr uint16_t kMaxClassName = 64;  // names of 64 bytes or more are refused

}  // namespace

const char* DescribeArchiveFault(ArchiveFault fault) {
    switch (fault) {
    case ArchiveFault::None: return "no fault";
    case ArchiveFault::EndOfFile: return "the data ends inside a field";
    case ArchiveFault::BadClass: return "an object of an unknown or unexpected class";
    case ArchiveFault::BadSchema: return "a class of an unknown version (schema)";
    case ArchiveFault::BadIndex: return "an object tag that names nothing read before";
    case ArchiveFault::BadString: return "a string with an invalid length";
    case ArchiveFault::TooLarge: return "a count or length larger than the data, or a file too large";
    case ArchiveFault::FileError: return "the file cannot be read or written";
    case ArchiveFault::OutOfMemory: return "out of memory";
    }
    return "unknown fault";
}

CObjArchive::CObjArchive(Mode mode) : m_mode(mode) {}

CObjArchive::CObjArchive(const void* data, size_t size)
    : m_mode(load), m_data(static_cast<const uint8_t*>(data)), m_size(size) {}

CObjArchive::~CObjArchive() {
    if (m_file)
        fclose(m_file);
}

bool CObjArchive::OpenFile(const std::string& path) {
    if (m_file) {
        fclose(m_file);
        m_file = nullptr;
    }
    m_mode = load;
    m_data = nullptr;
    m_size = m_pos = 0;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(f);
        return false;
    }
    setvbuf(f, nullptr, _IOFBF, 4096);
    m_file = f;
    m_size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool CObjArchive::WriteFile(const std::string& path) const {
    if (m_mode != store || IsFailed())
        return false;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(m_buf.data(), 1, m_buf.size(), f) == m_buf.size();
    ok = fclose(f) == 0 && ok;
    return ok;
}

void CObjArchive::Fail(ArchiveFault fault) {
    if (m_fault == ArchiveFault::None)
        m_fault = fault;
}

bool CObjArchive::Take(void* dst, size_t n) {
    if (IsFailed() || m_mode != load)
        return false;
    if (n > BytesLeft()) {
        Fail(ArchiveFault::EndOfFile);
        return false;
    }
    if (m_file) {
        if (fread(dst, 1, n, m_file) != n) {
            // The file shrank under us, or a read error.
            Fail(ferror(m_file) ? ArchiveFault::FileError : ArchiveFault::EndOfFile);
            return false;
        }
    } else if (n > 0) {
        std::memcpy(dst, m_data + m_pos, n);
    }
    m_pos += n;
    return true;
}

void CObjArchive::Put(const void* src, size_t n) {
    if (IsFailed() || m_mode != store)
        return;
    m_buf.append(static_cast<const char*>(src), n);
}

bool CObjArchive::Read(uint8_t& v) { return Take(&v, 1); }

bool CObjArchive::Read(uint16_t& v) {
    uint8_t b[2];
    if (!Take(b, 2))
        return false;
    v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool CObjArchive::Read(uint32_t& v) {
    uint8_t b[4];
    if (!Take(b, 4))
        return false;
    v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
        (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

void CObjArchive::Write(uint8_t v) { Put(&v, 1); }

void CObjArchive::Write(uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Put(b, 2);
}

void CObjArchive::Write(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                    static_cast<uint8_t>(v >> 24)};
    Put(b, 4);
}

bool CObjArchive::ReadCount(uint32_t& n) {
    uint16_t w;
    if (!Read(w))
        return false;
    if (w != 0xFFFF) {
        n = w;
        return true;
    }
    return Read(n);
}

void CObjArchive::WriteCount(uint32_t n) {
    if (n < 0xFFFF) {
        Write(static_cast<uint16_t>(n));
    } else {
        Write(static_cast<uint16_t>(0xFFFF));
        Write(n);
    }
}

// Length forms: one byte below 0xFF; 0xFF and 16 bits below 0xFFFE; 0xFF, 0xFFFF and
// 32 bits below 0xFFFFFFFF. 0xFF 0xFFFE once, in front, marks a UTF-16 string whose
// length (in 16-bit units) follows in the same forms.
bool CObjArchive::ReadStringLength(uint32_t& length, bool& wide) {
    wide = false;
    for (;;) {
        uint8_t b;
        if (!Read(b))
            return false;
        if (b < 0xFF) {
            length = b;
            return true;
        }
        uint16_t w;
        if (!Read(w))
            return false;
        if (w == 0xFFFE) {
            if (wide) {
                Fail(ArchiveFault::BadString);
                return false;
            }
            wide = true;
            continue;
        }
        if (w < 0xFFFF) {
            length = w;
            return true;
        }
        uint32_t d;
        if (!Read(d))
            return false;
        if (d == 0xFFFFFFFFu) {
            Fail(ArchiveFault::BadString);
            return false;
        }
        length = d;
        return true;
    }
}

bool CObjArchive::ReadString(std::string& s) {
    uint32_t length;
    bool wide;
    if (!ReadStringLength(length, wide))
        return false;
    uint64_t bytes = wide ? 2ull * length : length;
    if (bytes > BytesLeft()) {
        Fail(ArchiveFault::EndOfFile);
        return false;
    }
    std::string raw(static_cast<size_t>(bytes), '\0');
    if (!Take(raw.data(), raw.size()))
        return false;
    if (!wide) {
        s = std::move(raw);
        return true;
    }
    std::string converted;
    Utf16LeToCp949(raw, converted);  // the byte count is even by construction
    s = std::move(converted);
    return true;
}

void CObjArchive::WriteString(const std::string& s) {
    uint64_t n = s.size();
    if (n > 0xFFFFFFFEull) {
        Fail(ArchiveFault::TooLarge);
        return;
    }
    if (n < 0xFF) {
        Write(static_cast<uint8_t>(n));
    } else if (n < 0xFFFE) {
        Write(static_cast<uint8_t>(0xFF));
        Write(static_cast<uint16_t>(n));
    } else {
        Write(static_cast<uint8_t>(0xFF));
        Write(static_cast<uint16_t>(0xFFFF));
        Write(static_cast<uint32_t>(n));
    }
    Put(s.data(), s.size());
}

// Reads the class named by tag: a new-class record, or an index of a class read
// before (short or long form).
bool CObjArchive::ReadClass(uint16_t tag, const CRuntimeClass*& cls) {
    if (m_loadMap.empty())
        m_loadMap.push_back(nullptr);  // index 0: null
    if (tag == kNewClassTag) {
        uint16_t schema, nameLength;
        if (!Read(schema) || !Read(nameLength))
            return false;
        if (nameLength >= kMaxClassName) {
            Fail(ArchiveFault::BadClass);
            return false;
        }
        char name[kMaxClassName];
        if (!Take(name, nameLength))
            return false;
        const CRuntimeClass* found = nullptr;
        for (const CRuntimeClass* known : m_known) {
            size_t len = std::strlen(known->m_lpszClassName);
            if (len == nameLength && std::memcmp(known->m_lpszClassName, name, len) == 0) {
                found = known;
                break;
            }
        }
        if (!found) {
            Fail(ArchiveFault::BadClass);
            return false;
        }
        if (found->m_wSchema != schema) {
            Fail(ArchiveFault::BadSchema);
            return false;
        }
        m_loadMap.push_back(found);
        cls = found;
        return true;
    }
    uint32_t index;
    if (tag == kBigObjectTag) {
        uint32_t big;
        if (!Read(big))
            return false;
        if (!(big & kBigClassTag)) {
            Fail(ArchiveFault::BadIndex);  // a back reference to an object
            return false;
        }
        index = big & ~kBigClassTag;
    } else if (tag & kClassTag) {
        index = tag & ~kClassTag;
    } else {
        Fail(ArchiveFault::BadIndex);  // a back reference to an object
        return false;
    }
    if (index == 0 || index >= m_loadMap.size() || m_loadMap[index] == nullptr) {
        Fail(ArchiveFault::BadIndex);
        return false;
    }
    cls = m_loadMap[index];
    return true;
}

bool CObjArchive::ReadObject(const CRuntimeClass* expected, CObject*& out) {
    out = nullptr;
    uint16_t tag;
    if (!Read(tag))
        return false;
    if (tag == kNullTag)
        return true;
    const CRuntimeClass* cls = nullptr;
    if (!ReadClass(tag, cls))
        return false;
    if (cls != expected || !cls->m_pfnCreateObject) {
        Fail(ArchiveFault::BadClass);
        return false;
    }
    std::unique_ptr<CObject> obj(cls->m_pfnCreateObject());
    m_loadMap.push_back(nullptr);  // the object's own index
    obj->Serialize(*this);
    if (IsFailed())
        return false;  // the half-read object goes with obj
    out = obj.release();
    return true;
}

void CObjArchive::WriteObject(const CObject* obj) {
    if (!obj) {
        Write(kNullTag);
        return;
    }
    const CRuntimeClass* cls = obj->GetRuntimeClass();
    uint32_t classIndex = 0;
    for (const auto& [known, index] : m_storeClasses) {
        if (known == cls)
            classIndex = index;
    }
    if (classIndex == 0) {
        size_t nameLength = std::strlen(cls->m_lpszClassName);
        if (nameLength >= kMaxClassName) {
            Fail(ArchiveFault::BadClass);
            return;
        }
        Write(kNewClassTag);
        Write(cls->m_wSchema);
        Write(static_cast<uint16_t>(nameLength));
        Put(cls->m_lpszClassName, nameLength);
        m_storeClasses.emplace_back(cls, m_storeCount++);
    } else if (classIndex < kBigObjectTag) {
        Write(static_cast<uint16_t>(kClassTag | classIndex));
    } else {
        Write(kBigObjectTag);
        Write(kBigClassTag | classIndex);
    }
    m_storeCount++;  // the object's own index
    // Serialize is the one entry point for both directions; storing only reads the
    // object's fields.
    const_cast<CObject*>(obj)->Serialize(*this);
}
