// Arrays of object pointers: CObArray, a plain array of CObject pointers, and
// CLdSafeTypedPtrArray, an owning and typed array over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "obj_archive.h"

class CObArray {
public:
    CObArray() = default;
    CObArray(const CObArray&) = delete;
    CObArray& operator=(const CObArray&) = delete;

    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetUpperBound() const { return GetSize() - 1; }
    // New slots are null; shrinking only forgets pointers (owners delete first).
    void SetSize(int size) { m_items.resize(size < 0 ? 0 : static_cast<size_t>(size), nullptr); }
    CObject* GetAt(int i) const { return m_items[static_cast<size_t>(i)]; }
    void SetAt(int i, CObject* p) { m_items[static_cast<size_t>(i)] = p; }
    int Add(CObject* p) {
        m_items.push_back(p);
        return GetUpperBound();
    }
    void RemoveAll() { m_items.clear(); }

protected:
    std::vector<CObject*> m_items;
};

// Owns its elements: removing them deletes every non-null one. Slots may be null.
// Serialising writes the count and one object reference per slot; loading accepts
// only objects of TYPE.
template <class BASE, class TYPE>
class CLdSafeTypedPtrArray : public BASE {
public:
    CLdSafeTypedPtrArray() = default;
    ~CLdSafeTypedPtrArray() { RemoveAll(); }

    TYPE* GetAt(int i) const { return static_cast<TYPE*>(BASE::GetAt(i)); }
    TYPE* operator[](int i) const { return GetAt(i); }
    // Replacing a slot deletes the pack it held.
    void SetAt(int i, TYPE* p) {
        TYPE* old = GetAt(i);
        if (old != p)
            delete old;
        BASE::SetAt(i, p);
    }
    int Add(TYPE* p) { return BASE::Add(p); }
    // Shrinking deletes the elements that fall off the end.
    void SetSize(int size) {
        for (int i = size < 0 ? 0 : size; i < BASE::GetSize(); ++i)
            delete GetAt(i);
        BASE::SetSize(size);
    }
    void RemoveAll() {
        for (int i = 0; i < BASE::GetSize(); ++i)
            delete GetAt(i);
        BASE::RemoveAll();
    }

    void Serialize(CObjArchive& ar) {
        if (ar.IsStoring()) {
            ar.WriteCount(static_cast<uint32_t>(BASE::GetSize()));
            for (int i = 0; i < BASE::GetSize(); ++i)
                ar.WriteObject(GetAt(i));
            return;
        }
        RemoveAll();
        uint32_t count;
        if (!ar.ReadCount(count))
            return;
        // Each slot takes at least its 2-byte tag: a count the bytes left cannot hold
        // is refused before any slot is made.
        if (count > ar.BytesLeft() / 2 || count > static_cast<uint32_t>(INT32_MAX)) {
            ar.Fail(ArchiveFault::TooLarge);
            return;
        }
        SetSize(static_cast<int>(count));
        for (int i = 0; i < static_cast<int>(count); ++i) {
            CObject* obj = nullptr;
            if (!ar.ReadObject(&TYPE::classRuntime, obj))
                return;  // the slots from here on stay null
            BASE::SetAt(i, obj);
        }
    }
};
