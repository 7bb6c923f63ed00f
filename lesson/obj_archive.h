// A small object archive: the byte layout of serialised objects with run-time class
// records, read from and written to byte buffers and files. It reports faults through
// a sticky failure flag instead of exceptions: once a read or write fails, every later
// call fails too and returns zeros, so a Serialize can read straight through and the
// caller checks IsFailed() at the points where it must stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CObjArchive;
class CObject;

// Name, schema and factory of a serialisable class.
struct CRuntimeClass {
    const char* m_lpszClassName;
    uint16_t m_wSchema;
    CObject* (*m_pfnCreateObject)();
};

// Base of every serialisable object.
class CObject {
public:
    virtual const CRuntimeClass* GetRuntimeClass() const = 0;
    virtual ~CObject() = default;
    virtual void Serialize(CObjArchive& ar) = 0;
};

// Why an archive stopped; the first fault is kept.
enum class ArchiveFault {
    None,
    EndOfFile,      // the data ends inside a field
    BadClass,       // unknown class name, name too long, or a class not expected here
    BadSchema,      // the schema read differs from the class's
    BadIndex,       // a class or object tag that names nothing read so far
    BadString,      // a string length form that no writer produces
    TooLarge,       // a count or length that cannot fit in the bytes left, or a file too large
    FileError,      // the file could not be read or written
    OutOfMemory,    // memory ran out while reading
};

// A short English description of a fault, for tools.
const char* DescribeArchiveFault(ArchiveFault fault);

class CObjArchive {
public:
    enum Mode { load, store };

    // Loading from bytes (not copied: they must outlive the archive) or storing into
    // the archive's own buffer.
    explicit CObjArchive(Mode mode);
    CObjArchive(const void* data, size_t size);
    ~CObjArchive();
    CObjArchive(const CObjArchive&) = delete;
    CObjArchive& operator=(const CObjArchive&) = delete;

    // Loading: reads from the file through a 4096-byte buffer. False when it cannot be
    // opened.
    bool OpenFile(const std::string& path);
    // Storing: writes what was stored to the file, replacing it. False on any error.
    bool WriteFile(const std::string& path) const;

    bool IsLoading() const { return m_mode == load; }
    bool IsStoring() const { return m_mode == store; }
    bool IsFailed() const { return m_fault != ArchiveFault::None; }
    ArchiveFault GetFault() const { return m_fault; }
    void Fail(ArchiveFault fault);

    // Classes that ReadObject may construct; the names are compared exactly.
    void SetKnownClasses(std::vector<const CRuntimeClass*> classes) { m_known = std::move(classes); }

    // Stored bytes (storing).
    const std::string& GetBuffer() const { return m_buf; }
    // Loading: bytes not read yet. Counts and lengths are checked against it so that a
    // few bytes never make the reader allocate gigabytes.
    uint64_t BytesLeft() const { return m_size - m_pos; }

    // Little-endian integers. On failure the value is left untouched.
    bool Read(uint8_t& v);
    bool Read(uint16_t& v);
    bool Read(uint32_t& v);
    void Write(uint8_t v);
    void Write(uint16_t v);
    void Write(uint32_t v);

    // Element count: 16 bits, or 0xFFFF and 32 bits.
    bool ReadCount(uint32_t& n);
    void WriteCount(uint32_t n);

    // Length-prefixed byte string; a UTF-16 string is converted to CP949 on reading.
    bool ReadString(std::string& s);
    void WriteString(const std::string& s);

    // One object reference. Loading: out is the new object (owned by the caller),
    // null for an empty slot; false on any fault, with nothing left allocated.
    // Only objects of the class `expected` are accepted. Back references to objects
    // already read are refused: every slot owns its own object.
    bool ReadObject(const CRuntimeClass* expected, CObject*& out);
    void WriteObject(const CObject* obj);

private:
    bool Take(void* dst, size_t n);
    void Put(const void* src, size_t n);
    bool ReadStringLength(uint32_t& length, bool& wide);
    bool ReadClass(uint16_t tag, const CRuntimeClass*& cls);

    Mode m_mode;
    std::string m_buf;              // storing
    const uint8_t* m_data = nullptr;  // loading from bytes
    FILE* m_file = nullptr;           // loading from a file
    uint64_t m_size = 0;
    uint64_t m_pos = 0;
    ArchiveFault m_fault = ArchiveFault::None;
    std::vector<const CRuntimeClass*> m_known;
    // Index map shared by classes and objects; entry 0 is the null reference. A null
    // pointer marks an object entry, anything else the class registered there.
    std::vector<const CRuntimeClass*> m_loadMap;
    // Storing: class -> index, in order of first appearance.
    std::vector<std::pair<const CRuntimeClass*, uint32_t>> m_storeClasses;
    uint32_t m_storeCount = 1;
};
