/** \addtogroup framework
 @{ */
// CArchive: a binary stream over a CFile that is either storing or loading.
//
// Encodings (little-endian throughout): integers and floats as their bytes;
// strings with a 1-byte length below 255, else 0xFF and a 16-bit length below
// 0xFFFE, else 0xFF 0xFFFF and a 32-bit length, then the characters; counts as
// 16 bits below 0xFFFF, else 0xFFFF and 32 bits; objects with class tags (new
// class 0xFFFF + schema + name, known class 0x8000|index, known object index,
// null object 0).
//
// A damaged or short archive throws CArchiveException, the library's one
// exception. A loader never allocates more than the bytes left in its file.
#pragma once

#include <exception>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/File.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

class COleDateTime;

/// The base of the framework's exceptions.
class KELVARA_API CException : public std::exception {
public:
    /// A fixed text naming the kind of exception.
    const char* what() const noexcept override { return "framework exception"; }
};

/// Thrown when an archive is damaged, short or used the wrong way; m_cause says why.
class KELVARA_API CArchiveException : public CException {
public:
    /// The causes.
    enum {
        none = 0,
        generic = 1,
        readOnly = 2,
        endOfFile = 3,
        writeOnly = 4,
        badIndex = 5,
        badClass = 6,
        badSchema = 7,
    };

    /// An exception for one of the causes above.
    explicit CArchiveException(int cause = none) : m_cause(cause) {}
    /// A text for the cause.
    const char* what() const noexcept override;

    /// Throws CArchiveException(cause).
    [[noreturn]] static void Throw(int cause);

    /// One of the causes above.
    int m_cause;
};

/// A binary stream over a CFile that is either storing or loading.
class KELVARA_API CArchive {
public:
    /// The mode: storing or loading (bNoFlushOnDelete is accepted and ignored).
    enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2 };

    /// An archive over pFile in nMode; the buffer arguments are accepted and ignored.
    CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096, void* lpBuf = nullptr);
    ~CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    ///@{
    /// The mode and the file.
    bool IsLoading() const { return (m_nMode & load) != 0; }
    bool IsStoring() const { return (m_nMode & load) == 0; }
    CFile* GetFile() const { return m_pFile; }
    ///@}

    /// Raw bytes. Read returns how many were there; Write throws on failure.
    UINT Read(void* lpBuf, UINT nMax);
    /// See Read.
    void Write(const void* lpBuf, UINT nMax);
    /// Reads exactly nCount bytes or throws endOfFile.
    void ReadExact(void* lpBuf, UINT nCount);
    ///@{
    /// Writes go straight to the file; Close detaches the archive from it.
    void Flush() {}
    void Close();
    ///@}

    /// Bytes still to be read, as the file reports them.
    ULONGLONG GetBytesLeft() const;

    ///@{
    /// A count: 16 bits below 0xFFFF, else 0xFFFF and 32 bits.
    void WriteCount(DWORD dwCount);
    DWORD ReadCount();
    ///@}
    /// A count or length read from a record, checked before anything is
    /// sized by it: throws endOfFile when nCount items of at least
    /// nMinBytesEach bytes each cannot be in the bytes left, and generic when
    /// it is above INT_MAX (no array, list or string can hold that many).
    int CheckLoadCount(DWORD nCount, ULONGLONG nMinBytesEach) const;

    ///@{
    /// A string in the length-prefixed form above.
    void WriteString(const char* psz, DWORD nLength);
    void ReadString(CString& str);
    ///@}

    /// Writes an object with its class tag, or a null object.
    void WriteObject(const CObject* pOb);
    /// Reads an object written by WriteObject; pClassRefRequested, when given,
    /// is the class the object must be of.
    CObject* ReadObject(const CRuntimeClass* pClassRefRequested);

    /// Schema of the object being loaded, for VERSIONABLE_SCHEMA classes.
    UINT GetObjectSchema() const { return m_nObjectSchema; }
    /// See GetObjectSchema.
    void SetObjectSchema(UINT nSchema) { m_nObjectSchema = nSchema; }

    ///@{
    /// Stores a value in the encodings above.
    CArchive& operator<<(BYTE by) { return WriteRaw(&by, 1); }
    CArchive& operator<<(char ch) { return WriteRaw(&ch, 1); }
    CArchive& operator<<(WORD w) { return WriteLE(w); }
    CArchive& operator<<(short w) { return WriteLE(static_cast<WORD>(w)); }
    CArchive& operator<<(DWORD dw) { return WriteLE(dw); }
    CArchive& operator<<(LONG l) { return WriteLE(static_cast<DWORD>(l)); }
    CArchive& operator<<(ULONGLONG dw) { return WriteLE(dw); }
    CArchive& operator<<(LONGLONG l) { return WriteLE(static_cast<ULONGLONG>(l)); }
    CArchive& operator<<(float f);
    CArchive& operator<<(double d);
    CArchive& operator<<(const CString& str);
    CArchive& operator<<(const char* psz);
    CArchive& operator<<(const COleDateTime& dt);
    CArchive& operator<<(const CObject* pOb) {
        WriteObject(pOb);
        return *this;
    }
    ///@}

    ///@{
    /// Loads a value in the encodings above; throws CArchiveException when the bytes are not there.
    CArchive& operator>>(BYTE& by) { return ReadRaw(&by, 1); }
    CArchive& operator>>(char& ch) { return ReadRaw(&ch, 1); }
    CArchive& operator>>(WORD& w) { return ReadLE(w); }
    CArchive& operator>>(short& w);
    CArchive& operator>>(DWORD& dw) { return ReadLE(dw); }
    CArchive& operator>>(LONG& l);
    CArchive& operator>>(ULONGLONG& dw) { return ReadLE(dw); }
    CArchive& operator>>(LONGLONG& l);
    CArchive& operator>>(float& f);
    CArchive& operator>>(double& d);
    CArchive& operator>>(CString& str) {
        ReadString(str);
        return *this;
    }
    CArchive& operator>>(COleDateTime& dt);
    CArchive& operator>>(CObject*& pOb) {
        pOb = ReadObject(nullptr);
        return *this;
    }
    CArchive& operator>>(const CObject*& pOb) {
        pOb = ReadObject(nullptr);
        return *this;
    }
    ///@}

private:
    CArchive& WriteRaw(const void* p, UINT n) {
        Write(p, n);
        return *this;
    }
    CArchive& ReadRaw(void* p, UINT n) {
        ReadExact(p, n);
        return *this;
    }
    template <typename T>
    CArchive& WriteLE(T value) {
        BYTE bytes[sizeof(T)];
        for (size_t i = 0; i < sizeof(T); ++i) {
            bytes[i] = static_cast<BYTE>(value >> (8 * i));
        }
        return WriteRaw(bytes, sizeof(T));
    }
    template <typename T>
    CArchive& ReadLE(T& value) {
        BYTE bytes[sizeof(T)];
        ReadExact(bytes, sizeof(T));
        T v = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            v = static_cast<T>(v | (static_cast<T>(bytes[i]) << (8 * i)));
        }
        value = v;
        return *this;
    }

    void CheckStoring() const;
    void CheckLoading() const;
    void WriteTag(DWORD dwIndex, DWORD dwFlag);
    const CRuntimeClass* ReadClass(const CRuntimeClass* pClassRefRequested, UINT* pSchema,
                                   DWORD* pObTag);

    CFile* m_pFile;
    UINT m_nMode;
    UINT m_nObjectSchema = static_cast<UINT>(-1);
    // Storing: index of each class record and object already written.
    std::unordered_map<const void*, DWORD> m_storeMap;
    // Loading: what each index refers to, and whether it is a class.
    struct LoadEntry {
        const void* p;
        bool isClass;
    };
    std::vector<LoadEntry> m_loadArray;
    DWORD m_nMapCount = 1;
};
/** @} */
