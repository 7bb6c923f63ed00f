// The lesson model: the pages ("packs") of a lesson and its layout flag, as stored in
// the package's "config.cfg".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "obj_archive.h"
#include "safe_ptr_array.h"

// One page. Strings are CP949 bytes.
class CCfgPack : public CObject {
public:
    static const CRuntimeClass classRuntime;  // "CCfgPack", schema 1
    static CObject* CreateObject();

    CCfgPack() = default;
    const CRuntimeClass* GetRuntimeClass() const override { return &classRuntime; }
    ~CCfgPack() override = default;
    void Serialize(CObjArchive& ar) override;

    std::string soundFile;    // model sound, relative to the extraction folder
    std::string pictureFile;  // picture, relative to the same folder
    std::string questionText;  // empty: none
    std::string answerText;    // empty: none
    uint32_t waitSeconds = 0;  // pause after the sound before moving on
    uint32_t fontSize = 0;     // points, for the question and answer texts
};

class CCfgPackArray : public CLdSafeTypedPtrArray<CObArray, CCfgPack> {};

class CCfgFile : public CObject {
public:
    static const CRuntimeClass classRuntime;  // "CCfgFile", schema 1
    static CObject* CreateObject();
    static constexpr int kDefaultPackCount = 20;
    // Larger files are refused unread. With every count and length checked against the
    // bytes left, a file of this size makes at most 8 Mi slots or about 1.2 M packs
    // (some 200 MB in memory); a real lesson's is a few kilobytes.
    static constexpr uint64_t kMaxFileBytes = 16u << 20;

    CCfgFile();
    const CRuntimeClass* GetRuntimeClass() const override { return &classRuntime; }
    ~CCfgFile() override;
    void Serialize(CObjArchive& ar) override;

    // 20 empty packs, textBesidePicture 0.
    void Reset();

    // Replaces the packs with those of the file. On false the packs read before the
    // fault are kept and the remaining slots are null (nothing of an earlier lesson
    // survives); textBesidePicture keeps its value unless the file supplied a new one.
    // A file over kMaxFileBytes, and memory running out, fail the load.
    bool Load(const std::string& path);
    bool LoadFromBytes(const void* data, size_t size);

    // Writes the lesson in the same layout; strings take their shortest length form.
    bool Save(const std::string& path) const;
    bool SaveToBytes(std::string& out) const;

    // Why the last Load failed (FileError when the file could not be opened).
    ArchiveFault GetLastFault() const { return m_lastFault; }

    // Null when index is outside the array, and for an empty slot.
    CCfgPack* GetPack(int index) const;
    int GetPackCount() const { return packs.GetSize(); }

    CCfgPackArray packs;
    uint32_t textBesidePicture = 0;  // nonzero: the texts go beside the picture

private:
    bool LoadFrom(CObjArchive& ar);

    ArchiveFault m_lastFault = ArchiveFault::None;
};
