/** \addtogroup framework
 @{ */
/// CFile and CMemFile: the byte streams under an archive.
#pragma once

#include <cstdio>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/Types.h"

/// A file on disk (through the C library's streams) and the base of CMemFile.
/// Failures of Read give a short count; failures of Write throw
/// CArchiveException(generic), as nothing can be recovered mid-record.
class KELVARA_API CFile : public CObject {
public:
    /// How Open opens the file.
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeBinary = 0x8000,
    };
    /// Where a seek counts from.
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    /// No file open.
    CFile() = default;
    /// Opens the file; throws CArchiveException(generic) when it cannot.
    CFile(const char* lpszFileName, UINT nOpenFlags);
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    /// Opens the file; FALSE when it cannot.
    virtual BOOL Open(const char* lpszFileName, UINT nOpenFlags);
    /// Reads up to nCount bytes; how many were read.
    virtual UINT Read(void* lpBuf, UINT nCount);
    /// Writes nCount bytes.
    virtual void Write(const void* lpBuf, UINT nCount);
    /// Moves the position; the new position.
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    ///@{
    /// Position and length in bytes.
    virtual ULONGLONG GetPosition() const;
    virtual ULONGLONG GetLength() const;
    ///@}
    /// Cuts or extends the file.
    virtual void SetLength(ULONGLONG dwNewLen);
    ///@{
    /// Flushes, or closes the file.
    virtual void Flush();
    virtual void Close();
    ///@}

    ///@{
    /// Seeks to the start or the end.
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    ///@}
    /// True while a file is open.
    bool IsOpen() const { return m_pStream != nullptr; }

private:
    std::FILE* m_pStream = nullptr;
};

/// A file in memory: either its own growable buffer, or a caller's buffer
/// attached with Attach (grown only when nGrowBytes is nonzero, in which case
/// the file takes it over and frees it with free()).
/// A seek may go past the end; a write there fills the gap with zeros.
class KELVARA_API CMemFile : public CFile {
public:
    /// An empty file of its own growing by nGrowBytes.
    explicit CMemFile(UINT nGrowBytes = 1024);
    /// A file over a caller's buffer; see Attach.
    CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
    ~CMemFile() override;

    /// Works on the caller's buffer, as the class description says.
    void Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
    /// Hands the buffer to the caller (free() it when the file owned it) and
    /// leaves the file empty.
    BYTE* Detach();

    /// Memory files open nothing.
    BOOL Open(const char*, UINT) override { return FALSE; }
    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
    ULONGLONG GetPosition() const override { return m_nPosition; }
    ULONGLONG GetLength() const override { return m_nFileSize; }
    void SetLength(ULONGLONG dwNewLen) override;
    void Flush() override {}
    void Close() override;

    /// The bytes written so far (valid until the next write).
    const BYTE* GetBuffer() const { return m_lpBuffer; }

private:
    void GrowTo(size_t nNewSize);

    BYTE* m_lpBuffer = nullptr;
    size_t m_nBufferSize = 0;
    size_t m_nFileSize = 0;
    size_t m_nPosition = 0;
    UINT m_nGrowBytes = 1024;
    bool m_bAutoDelete = true;
};
/** @} */
