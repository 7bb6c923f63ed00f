// Extraction of lesson packages (zip archives) over minizip.
//
// Archives that other packers write and Info-ZIP's unzip opens open here too: sizes
// and offsets kept in ZIP64 extra fields, and a central directory whose recorded
// size falls short of where it really ends.
//
// Nothing is ever written outside the destination folder: names that climb out of it
// (".." parts, absolute names) are refused, links stored in an archive are written as
// plain files, and files already at the output path are replaced, never followed.
// Entries are counted on the bytes actually inflated, so a small archive cannot fill
// the disk. Entry names are kept as stored (CP949 bytes); "/" and "\" both separate
// folders, and "/" is what is reported and written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Description of the current entry.
struct ZipEntryInfo {
    std::string name;     // as stored, with every "\" turned into "/"
    std::string comment;  // as stored
    uint32_t versionMadeBy = 0;
    uint32_t versionNeeded = 0;
    uint32_t flags = 0;
    uint32_t compressionMethod = 0;
    uint32_t dosDateTime = 0;  // date in the high 16 bits, time in the low; local time
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    bool isFolder = false;   // MS-DOS folder attribute (0x10)
    bool isSymlink = false;  // a link made on a Unix host; written as a plain file
};


class CUnzipper {
public:
    static constexpr uint64_t kDefaultEntryLimit = 2ull << 30;    // 2 GiB inflated per entry
    static constexpr uint64_t kDefaultArchiveLimit = 2ull << 30;  // 2 GiB for the whole archive

    explicit CUnzipper(const char* path = nullptr);
    virtual ~CUnzipper();
    CUnzipper(const CUnzipper&) = delete;
    CUnzipper& operator=(const CUnzipper&) = delete;

    // Opens the archive; the default destination becomes its full path without the
    // extension (/home/me/unit01.viz gives /home/me/unit01).
    bool OpenArchive(const char* path);
    // Opens an archive held in memory; the bytes must outlive the extractor. There is
    // no default destination.
    bool OpenArchiveFromMemory(const void* data, size_t size);
    bool CloseArchive();

    // False, nothing changed, when the path names something that is not a folder.
    bool SetDestination(const char* folder);
    const std::string& GetDestination() const { return m_destination; }

    // Limits on inflated bytes, per entry and for everything extracted since the
    // archive was opened. Passing either fails the entry.
    void SetLimits(uint64_t entryLimit, uint64_t archiveLimit);

    int CountEntries();
    bool ReadEntryInfo(ZipEntryInfo& info);
    // Without an extension (null or empty): the first / next entry. With one: the
    // first / next entry whose extension matches, ignoring case ("jpg" finds 01.JPG).
    bool FirstEntry(const char* extension = nullptr);
    bool NextEntry(const char* extension = nullptr);
    // True when the last move failed only because the list had ended.
    bool AtEndOfList() const { return m_atEnd; }

    // Extracts the current entry into folder (null: the default destination). With
    // flatten, only the entry's file name is kept: pictures/01.jpg becomes 01.jpg, and
    // folder entries are passed over (flat extraction needs no folders). Without it,
    // folder entries create their folder and write nothing. Output paths, of folders
    // too, stay below PATH_MAX. A folder where the file must go is removed when it
    // holds nothing but folders. An entry that fails leaves no file behind.
    bool ExtractEntry(const char* folder, bool flatten);
    // Every entry in archive order; false at the first entry that fails, for an empty
    // archive, and when the entry list cannot be walked to its end. A failed
    // extraction deletes the files it wrote (folders made without flatten stay).
    bool ExtractAll(const char* folder, bool flatten);
    // The current entry's data, checked and limited like ExtractEntry.
    bool ExtractEntryToMemory(std::string& bytes);

    // Why the last operation failed, in English, for tools that show it.
    const std::string& GetError() const { return m_strError; }

    // The folder exists afterwards, missing parents created. False when the path, or a
    // part of it, is something other than a folder, and for a path of PATH_MAX bytes
    // or more.
    static bool EnsureFolder(const char* path);
    // EnsureFolder of everything before the last "/"; false when there is none.
    static bool EnsureParentFolder(const char* filePath);
    // Sets the file's modification time from an MS-DOS date/time in local time; the
    // access time is left as it is.
    static bool ApplyEntryTime(const char* filePath, uint32_t dosDateTime);

    // The archive as minizip reads it; unzipper.cpp has it.
    struct View;

private:
    bool SetError(const std::string& text);
    bool MatchesExtension(const char* extension);
    bool Readable(const ZipEntryInfo& info, const std::string& label);
    bool CopyEntry(int out, std::string* memory, const ZipEntryInfo& info, const std::string& label);
    bool PlanEntry(const ZipEntryInfo& info, const std::string& dest, bool flatten, std::string& outPath,
                   bool& folder);
    void RemoveExtracted(const std::string& dest, bool flatten, int count);

    bool OpenView(std::unique_ptr<View> view);

    void* m_hArchive = nullptr;  // unzFile
    std::string m_destination;
    std::string m_strError;
    bool m_atEnd = false;
    int m_index = 0;  // of the current entry, counted by FirstEntry and NextEntry
    uint64_t m_entryLimit = kDefaultEntryLimit;
    uint64_t m_archiveLimit = kDefaultArchiveLimit;
    uint64_t m_archiveInflated = 0;
    std::unique_ptr<View> m_view;  // what m_hArchive reads; outlives it
};

// The player's entry point: every file of the package, flat, into folder. On false
// nothing it wrote is left there.
bool ExtractPackage(const std::string& packagePath, const std::string& folder);
// The same; on false, error (when given) says why.
bool ExtractPackage(const std::string& packagePath, const std::string& folder, std::string* error);
