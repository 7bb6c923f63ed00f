#include "cfg_file.h"

#include <new>

const CRuntimeClass CCfgPack::classRuntime = {"CCfgPack", 1, &CCfgPack::CreateObject};
const CRuntimeClass CCfgFile::classRuntime = {"CCfgFile", 1, &CCfgFile::CreateObject};

CObject* CCfgPack::CreateObject() { return new CCfgPack; }
CObject* CCfgFile::CreateObject() { return new CCfgFile; }

void CCfgPack::Serialize(CObjArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteString(soundFile);
        ar.WriteString(pictureFile);
        ar.WriteString(questionText);
        ar.WriteString(answerText);
        ar.Write(waitSeconds);
        ar.Write(fontSize);
    } else {
        ar.ReadString(soundFile);
        ar.ReadString(pictureFile);
        ar.ReadString(questionText);
        ar.ReadString(answerText);
        ar.Read(waitSeconds);
        ar.Read(fontSize);
    }
}

CCfgFile::CCfgFile() { Reset(); }

CCfgFile::~CCfgFile() { packs.RemoveAll(); }

void CCfgFile::Serialize(CObjArchive& ar) {
    if (ar.IsStoring()) {
        ar.Write(textBesidePicture);
    } else {
        ar.Read(textBesidePicture);  // kept as it was when the file ends here
    }
    packs.Serialize(ar);
}

void CCfgFile::Reset() {
    textBesidePicture = 0;
    packs.RemoveAll();
    packs.SetSize(kDefaultPackCount);
    for (int i = 0; i < kDefaultPackCount; ++i)
        packs.SetAt(i, new CCfgPack);
}

bool CCfgFile::LoadFrom(CObjArchive& ar) {
    if (ar.BytesLeft() > kMaxFileBytes) {
        ar.Fail(ArchiveFault::TooLarge);
    } else {
        try {
            ar.SetKnownClasses({&CCfgFile::classRuntime, &CCfgPack::classRuntime});
            Serialize(ar);
        } catch (const std::bad_alloc&) {
            ar.Fail(ArchiveFault::OutOfMemory);
        }
    }
    m_lastFault = ar.GetFault();
    return !ar.IsFailed();
}

bool CCfgFile::Load(const std::string& path) {
    packs.RemoveAll();
    CObjArchive ar(CObjArchive::load);
    if (!ar.OpenFile(path)) {
        m_lastFault = ArchiveFault::FileError;
        return false;
    }
    return LoadFrom(ar);
}

bool CCfgFile::LoadFromBytes(const void* data, size_t size) {
    packs.RemoveAll();
    CObjArchive ar(data, size);
    return LoadFrom(ar);
}

bool CCfgFile::SaveToBytes(std::string& out) const {
    CObjArchive ar(CObjArchive::store);
    const_cast<CCfgFile*>(this)->Serialize(ar);  // storing leaves the object as it is
    if (ar.IsFailed()) {
        out.clear();
        return false;
    }
    out = ar.GetBuffer();
    return true;
}

bool CCfgFile::Save(const std::string& path) const {
    CObjArchive ar(CObjArchive::store);
    const_cast<CCfgFile*>(this)->Serialize(ar);
    return ar.WriteFile(path);
}

CCfgPack* CCfgFile::GetPack(int index) const {
    if (index < 0 || index >= packs.GetSize())
        return nullptr;
    return packs.GetAt(index);
}
