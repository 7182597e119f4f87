#include <type_traits>

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/List.h"

// Every loader checks a claimed count against the bytes left in the file
// before it allocates, so a damaged count fails at once.

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
    const DWORD nCount = ar.ReadCount();
    if (nCount > ar.GetBytesLeft() / sizeof(Element)) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
    array.SetSize(static_cast<int>(nCount));
    for (DWORD i = 0; i < nCount; ++i) {
        ar >> array[static_cast<int>(i)];
    }
}

}  // namespace

void CByteArray::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<DWORD>(GetSize()));
        ar.Write(GetData(), static_cast<UINT>(GetSize()));
        return;
    }
    const DWORD nCount = ar.ReadCount();
    if (nCount > ar.GetBytesLeft()) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
    SetSize(static_cast<int>(nCount));
    ar.ReadExact(GetData(), nCount);
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
    const DWORD nCount = ar.ReadCount();
    // Every string takes at least its one length byte.
    if (nCount > ar.GetBytesLeft()) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
    RemoveAll();
    for (DWORD i = 0; i < nCount; ++i) {
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
    const DWORD nCount = ar.ReadCount();
    // Every object takes at least its two tag bytes.
    if (nCount > ar.GetBytesLeft() / 2) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
    RemoveAll();
    for (DWORD i = 0; i < nCount; ++i) {
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
    const DWORD nCount = ar.ReadCount();
    if (nCount > ar.GetBytesLeft()) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
    for (DWORD i = 0; i < nCount; ++i) {
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
    const DWORD nCount = ar.ReadCount();
    if (nCount > ar.GetBytesLeft() / 2) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
    for (DWORD i = 0; i < nCount; ++i) {
        CObject* p = nullptr;
        ar >> p;
        AddTail(p);
    }
}
