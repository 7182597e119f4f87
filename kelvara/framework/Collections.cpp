#include <type_traits>

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/List.h"

// Every loader checks a claimed count against the bytes left in the file,
// and against the largest count an array or list can hold, before it
// allocates, so a damaged count fails at once.

namespace {

template <class ARRAY>
void SerializeScalars(ARRAY& array, CArchive& ar) {
    using Element = std::remove_reference_t<decltype(*array.GetData())>;
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<DWORD>(array.GetSize()));
        for (int i = 0; i < array.GetSize(); ++i) {
            ar << array[i];
        }
        return;
    }
    const int nCount = ar.CheckLoadCount(ar.ReadCount(), sizeof(Element));
    array.SetSize(nCount);
    for (int i = 0; i < nCount; ++i) {
        ar >> array[i];
    }
}

}  // namespace

void CByteArray::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<DWORD>(GetSize()));
        ar.Write(GetData(), static_cast<UINT>(GetSize()));
        return;
    }
    const int nCount = ar.CheckLoadCount(ar.ReadCount(), 1);
    SetSize(nCount);
    ar.ReadExact(GetData(), static_cast<UINT>(nCount));
}

void CWordArray::Serialize(CArchive& ar) {
    SerializeScalars(*this, ar);
}

void CDWordArray::Serialize(CArchive& ar) {
    SerializeScalars(*this, ar);
}

void CStringArray::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<DWORD>(GetSize()));
        for (const CString& s : m_data) {
            ar << s;
        }
        return;
    }
    // Every string takes at least its one length byte.
    const int nCount = ar.CheckLoadCount(ar.ReadCount(), 1);
    RemoveAll();
    for (int i = 0; i < nCount; ++i) {
        CString s;
        ar >> s;
        Add(s);
    }
}

void CObArray::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<DWORD>(GetSize()));
        for (CObject* p : m_data) {
            ar << p;
        }
        return;
    }
    // Every object takes at least its two tag bytes.
    const int nCount = ar.CheckLoadCount(ar.ReadCount(), 2);
    RemoveAll();
    for (int i = 0; i < nCount; ++i) {
        CObject* p = nullptr;
        ar >> p;
        Add(p);
    }
}

void CStringList::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<DWORD>(GetCount()));
        for (POSITION pos = GetHeadPosition(); pos;) {
            ar << GetNext(pos);
        }
        return;
    }
    const int nCount = ar.CheckLoadCount(ar.ReadCount(), 1);
    for (int i = 0; i < nCount; ++i) {
        CString s;
        ar >> s;
        AddTail(s);
    }
}

void CObList::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<DWORD>(GetCount()));
        for (POSITION pos = GetHeadPosition(); pos;) {
            ar << GetNext(pos);
        }
        return;
    }
    const int nCount = ar.CheckLoadCount(ar.ReadCount(), 2);
    for (int i = 0; i < nCount; ++i) {
        CObject* p = nullptr;
        ar >> p;
        AddTail(p);
    }
}
