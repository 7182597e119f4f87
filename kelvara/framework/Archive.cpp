#include "kelvara/framework/Archive.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "kelvara/framework/DateTime.h"

namespace {

// Object and class tags of the archive's object records.
constexpr WORD wNullTag = 0;
constexpr WORD wNewClassTag = 0xFFFF;
constexpr WORD wClassTag = 0x8000;
constexpr WORD wBigObjectTag = 0x7FFF;
constexpr DWORD dwBigClassTag = 0x80000000u;
constexpr DWORD nMaxMapCount = 0x3FFFFFFEu;

}  // namespace

const char* CArchiveException::what() const noexcept {
    switch (m_cause) {
        case generic:
            return "archive: generic error";
        case readOnly:
            return "archive: attempt to write to an archive opened for loading";
        case endOfFile:
            return "archive: unexpected end of file";
        case writeOnly:
            return "archive: attempt to read from an archive opened for storing";
        case badIndex:
            return "archive: invalid object or class index";
        case badClass:
            return "archive: unknown or unexpected class";
        case badSchema:
            return "archive: class schema does not match";
        default:
            return "archive: no error";
    }
}

void CArchiveException::Throw(int cause) {
    throw CArchiveException(cause);
}

CArchive::CArchive(CFile* pFile, UINT nMode, int, void*) : m_pFile(pFile), m_nMode(nMode) {
    if (!pFile) {
        CArchiveException::Throw(CArchiveException::generic);
    }
}

CArchive::~CArchive() = default;

void CArchive::Close() {
    m_storeMap.clear();
    m_loadArray.clear();
}

void CArchive::CheckStoring() const {
    if (!IsStoring()) {
        CArchiveException::Throw(CArchiveException::readOnly);
    }
}

void CArchive::CheckLoading() const {
    if (!IsLoading()) {
        CArchiveException::Throw(CArchiveException::writeOnly);
    }
}

UINT CArchive::Read(void* lpBuf, UINT nMax) {
    CheckLoading();
    return nMax == 0 ? 0 : m_pFile->Read(lpBuf, nMax);
}

void CArchive::Write(const void* lpBuf, UINT nMax) {
    CheckStoring();
    if (nMax != 0) {
        m_pFile->Write(lpBuf, nMax);
    }
}

void CArchive::ReadExact(void* lpBuf, UINT nCount) {
    if (Read(lpBuf, nCount) != nCount) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
}

ULONGLONG CArchive::GetBytesLeft() const {
    const ULONGLONG length = m_pFile->GetLength();
    const ULONGLONG position = m_pFile->GetPosition();
    return length > position ? length - position : 0;
}

CArchive& CArchive::operator<<(float f) {
    DWORD bits;
    static_assert(sizeof bits == sizeof f);
    std::memcpy(&bits, &f, sizeof bits);
    return WriteLE(bits);
}

CArchive& CArchive::operator<<(double d) {
    ULONGLONG bits;
    static_assert(sizeof bits == sizeof d);
    std::memcpy(&bits, &d, sizeof bits);
    return WriteLE(bits);
}

CArchive& CArchive::operator>>(short& w) {
    WORD u;
    ReadLE(u);
    w = static_cast<short>(u);
    return *this;
}

CArchive& CArchive::operator>>(LONG& l) {
    DWORD u;
    ReadLE(u);
    l = static_cast<LONG>(u);
    return *this;
}

CArchive& CArchive::operator>>(LONGLONG& l) {
    ULONGLONG u;
    ReadLE(u);
    l = static_cast<LONGLONG>(u);
    return *this;
}

CArchive& CArchive::operator>>(float& f) {
    DWORD bits;
    ReadLE(bits);
    std::memcpy(&f, &bits, sizeof f);
    return *this;
}

CArchive& CArchive::operator>>(double& d) {
    ULONGLONG bits;
    ReadLE(bits);
    std::memcpy(&d, &bits, sizeof d);
    return *this;
}

CArchive& CArchive::operator<<(const CString& str) {
    WriteString(str.GetString(), static_cast<DWORD>(str.GetLength()));
    return *this;
}

CArchive& CArchive::operator<<(const char* psz) {
    WriteString(psz ? psz : "", psz ? static_cast<DWORD>(std::strlen(psz)) : 0);
    return *this;
}

CArchive& CArchive::operator<<(const COleDateTime& dt) {
    *this << static_cast<LONG>(dt.m_status);
    return *this << dt.m_dt;
}

CArchive& CArchive::operator>>(COleDateTime& dt) {
    LONG status = 0;
    double date = 0;
    *this >> status >> date;
    dt.m_status = static_cast<COleDateTime::DateTimeStatus>(status);
    dt.m_dt = date;
    return *this;
}

void CArchive::WriteCount(DWORD dwCount) {
    if (dwCount < 0xFFFF) {
        *this << static_cast<WORD>(dwCount);
    } else {
        *this << static_cast<WORD>(0xFFFF) << dwCount;
    }
}

DWORD CArchive::ReadCount() {
    WORD wCount = 0;
    *this >> wCount;
    if (wCount != 0xFFFF) {
        return wCount;
    }
    DWORD dwCount = 0;
    *this >> dwCount;
    return dwCount;
}

int CArchive::CheckLoadCount(DWORD nCount, ULONGLONG nMinBytesEach) const {
    if (nMinBytesEach != 0 && nCount > GetBytesLeft() / nMinBytesEach) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
    if (nCount > static_cast<DWORD>(INT_MAX)) {
        CArchiveException::Throw(CArchiveException::generic);
    }
    return static_cast<int>(nCount);
}

void CArchive::WriteString(const char* psz, DWORD nLength) {
    if (nLength < 255) {
        *this << static_cast<BYTE>(nLength);
    } else if (nLength < 0xFFFE) {
        *this << static_cast<BYTE>(0xFF) << static_cast<WORD>(nLength);
    } else {
        *this << static_cast<BYTE>(0xFF) << static_cast<WORD>(0xFFFF) << nLength;
    }
    Write(psz, nLength);
}

void CArchive::ReadString(CString& str) {
    BYTE bLen = 0;
    *this >> bLen;
    DWORD nLength = bLen;
    if (bLen == 0xFF) {
        WORD wLen = 0;
        *this >> wLen;
        nLength = wLen;
        if (wLen == 0xFFFE) {
            // Never written by a storing archive: a damaged record.
            CArchiveException::Throw(CArchiveException::badIndex);
        }
        if (wLen == 0xFFFF) {
            *this >> nLength;
        }
    }
    const int nChars = CheckLoadCount(nLength, 1);
    std::string text(static_cast<size_t>(nChars), '\0');
    ReadExact(text.data(), nLength);
    str = CString(std::move(text));
}

void CArchive::WriteTag(DWORD dwIndex, DWORD dwFlag) {
    if (dwIndex < wBigObjectTag) {
        *this << static_cast<WORD>(dwIndex | (dwFlag ? wClassTag : 0));
    } else {
        *this << wBigObjectTag << static_cast<DWORD>(dwIndex | dwFlag);
    }
}

void CArchive::WriteObject(const CObject* pOb) {
    CheckStoring();
    if (pOb == nullptr) {
        *this << wNullTag;
        return;
    }
    if (const auto it = m_storeMap.find(pOb); it != m_storeMap.end()) {
        WriteTag(it->second, 0);
        return;
    }
    const CRuntimeClass* pClass = pOb->GetRuntimeClass();
    if (pClass->m_wSchema == 0xFFFF) {
        // Only serialisable classes can be recreated by a loader.
        CArchiveException::Throw(CArchiveException::badClass);
    }
    if (m_nMapCount >= nMaxMapCount) {
        CArchiveException::Throw(CArchiveException::badIndex);
    }
    if (const auto it = m_storeMap.find(pClass); it != m_storeMap.end()) {
        WriteTag(it->second, dwBigClassTag);
    } else {
        *this << wNewClassTag;
        pClass->Store(*this);
        m_storeMap.emplace(pClass, m_nMapCount++);
    }
    m_storeMap.emplace(pOb, m_nMapCount++);
    const_cast<CObject*>(pOb)->Serialize(*this);
}

const CRuntimeClass* CArchive::ReadClass(const CRuntimeClass* pClassRefRequested, UINT* pSchema,
                                         DWORD* pObTag) {
    WORD wTag = 0;
    *this >> wTag;
    DWORD obTag;
    if (wTag == wBigObjectTag) {
        *this >> obTag;
    } else {
        obTag = (static_cast<DWORD>(wTag & wClassTag) << 16) | (wTag & ~wClassTag);
    }
    *pObTag = obTag;
    if (!(obTag & dwBigClassTag)) {
        return nullptr;  // a null object or a reference to a loaded object
    }

    const CRuntimeClass* pClass = nullptr;
    UINT nSchema = 0;
    if (wTag == wNewClassTag) {
        pClass = CRuntimeClass::Load(*this, &nSchema);
        if (pClass == nullptr || pClass->m_pfnCreateObject == nullptr) {
            CArchiveException::Throw(CArchiveException::badClass);
        }
        const bool versionable = (pClass->m_wSchema & VERSIONABLE_SCHEMA) != 0;
        if (!versionable && (pClass->m_wSchema & 0xFFFF) != nSchema) {
            CArchiveException::Throw(CArchiveException::badSchema);
        }
        if (m_nMapCount >= nMaxMapCount) {
            CArchiveException::Throw(CArchiveException::badIndex);
        }
        m_loadArray.push_back({pClass, true});
        ++m_nMapCount;
    } else {
        const DWORD nClassIndex = obTag & ~dwBigClassTag;
        if (nClassIndex == 0 || nClassIndex >= m_nMapCount ||
            !m_loadArray[nClassIndex - 1].isClass) {
            CArchiveException::Throw(CArchiveException::badIndex);
        }
        pClass = static_cast<const CRuntimeClass*>(m_loadArray[nClassIndex - 1].p);
        nSchema = pClass->m_wSchema & 0xFFFF;
    }
    if (pClassRefRequested && !pClass->IsDerivedFrom(pClassRefRequested)) {
        CArchiveException::Throw(CArchiveException::badClass);
    }
    *pSchema = nSchema;
    return pClass;
}

CObject* KelvaraReadObject(CArchive& ar, const CRuntimeClass* pClassRefRequested) {
    return ar.ReadObject(pClassRefRequested);
}

CObject* CArchive::ReadObject(const CRuntimeClass* pClassRefRequested) {
    CheckLoading();
    UINT nSchema = 0;
    DWORD obTag = 0;
    const CRuntimeClass* pClass = ReadClass(pClassRefRequested, &nSchema, &obTag);
    if (pClass == nullptr) {
        if (obTag == 0) {
            return nullptr;
        }
        if (obTag >= m_nMapCount || m_loadArray[obTag - 1].isClass ||
            m_loadArray[obTag - 1].p == nullptr) {
            CArchiveException::Throw(CArchiveException::badIndex);
        }
        auto* pOb = static_cast<CObject*>(const_cast<void*>(m_loadArray[obTag - 1].p));
        if (pClassRefRequested && !pOb->IsKindOf(pClassRefRequested)) {
            CArchiveException::Throw(CArchiveException::badClass);
        }
        return pOb;
    }

    CObject* pOb = pClass->CreateObject();
    if (pOb == nullptr) {
        CArchiveException::Throw(CArchiveException::badClass);
    }
    const size_t nIndex = m_loadArray.size();
    m_loadArray.push_back({pOb, false});
    ++m_nMapCount;
    const UINT nSchemaSave = m_nObjectSchema;
    m_nObjectSchema = nSchema;
    try {
        pOb->Serialize(*this);
    } catch (...) {
        // The object goes, and with it whatever it loaded inside itself and
        // may own: a later back reference to any of them is a bad index, not
        // a dangling pointer.
        for (size_t i = nIndex; i < m_loadArray.size(); ++i) {
            if (!m_loadArray[i].isClass) {
                m_loadArray[i].p = nullptr;
            }
        }
        delete pOb;
        m_nObjectSchema = nSchemaSave;
        throw;
    }
    m_nObjectSchema = nSchemaSave;
    return pOb;
}
