#include "kelvara/framework/File.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kelvara/framework/Archive.h"

CFile::CFile(const char* lpszFileName, UINT nOpenFlags) {
    Open(lpszFileName, nOpenFlags);
}

CFile::~CFile() {
    if (m_pStream) {
        std::fclose(m_pStream);
    }
}

BOOL CFile::Open(const char* lpszFileName, UINT nOpenFlags) {
    Close();
    if (!lpszFileName) {
        return FALSE;
    }
    const bool write = (nOpenFlags & (modeWrite | modeReadWrite)) != 0;
    const bool create = (nOpenFlags & modeCreate) != 0;
    const bool truncate = create && !(nOpenFlags & modeNoTruncate);
    const char* mode = "rb";
    if (write) {
        mode = truncate ? "w+b" : "r+b";
    }
    m_pStream = std::fopen(lpszFileName, mode);
    if (!m_pStream && write && create) {
        m_pStream = std::fopen(lpszFileName, "w+b");
    }
    return m_pStream ? TRUE : FALSE;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    if (!m_pStream || nCount == 0) {
        return 0;
    }
    return static_cast<UINT>(std::fread(lpBuf, 1, nCount, m_pStream));
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    if (nCount == 0) {
        return;
    }
    if (!m_pStream || std::fwrite(lpBuf, 1, nCount, m_pStream) != nCount) {
        CArchiveException::Throw(CArchiveException::generic);
    }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    if (m_pStream) {
        const int whence = nFrom == end ? SEEK_END : (nFrom == current ? SEEK_CUR : SEEK_SET);
        std::fseek(m_pStream, static_cast<long>(lOff), whence);
    }
    return GetPosition();
}

ULONGLONG CFile::GetPosition() const {
    if (!m_pStream) {
        return 0;
    }
    const long pos = std::ftell(m_pStream);
    return pos < 0 ? 0 : static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetLength() const {
    if (!m_pStream) {
        return 0;
    }
    const long here = std::ftell(m_pStream);
    std::fseek(m_pStream, 0, SEEK_END);
    const long size = std::ftell(m_pStream);
    std::fseek(m_pStream, here, SEEK_SET);
    return size < 0 ? 0 : static_cast<ULONGLONG>(size);
}

void CFile::SetLength(ULONGLONG) {
    // Streams of the C library cannot be cut; disk files are written whole.
}

void CFile::Flush() {
    if (m_pStream) {
        std::fflush(m_pStream);
    }
}

void CFile::Close() {
    if (m_pStream) {
        std::fclose(m_pStream);
        m_pStream = nullptr;
    }
}

CMemFile::CMemFile(UINT nGrowBytes) : m_nGrowBytes(nGrowBytes ? nGrowBytes : 1024) {}

CMemFile::CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) {
    Attach(lpBuffer, nBufferSize, nGrowBytes);
}

CMemFile::~CMemFile() {
    Close();
}

void CMemFile::Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) {
    Close();
    m_lpBuffer = lpBuffer;
    m_nBufferSize = lpBuffer ? nBufferSize : 0;
    m_nFileSize = nGrowBytes == 0 ? m_nBufferSize : 0;
    m_nPosition = 0;
    m_nGrowBytes = nGrowBytes;
    m_bAutoDelete = nGrowBytes != 0;
}

BYTE* CMemFile::Detach() {
    BYTE* p = m_lpBuffer;
    m_lpBuffer = nullptr;
    m_nBufferSize = m_nFileSize = m_nPosition = 0;
    m_bAutoDelete = true;
    if (m_nGrowBytes == 0) {
        m_nGrowBytes = 1024;
    }
    return p;
}

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
    if (m_nPosition >= m_nFileSize || nCount == 0) {
        return 0;
    }
    const size_t n = std::min<size_t>(nCount, m_nFileSize - m_nPosition);
    std::memcpy(lpBuf, m_lpBuffer + m_nPosition, n);
    m_nPosition += n;
    return static_cast<UINT>(n);
}

void CMemFile::GrowTo(size_t nNewSize) {
    if (nNewSize <= m_nBufferSize) {
        return;
    }
    if (m_nGrowBytes == 0) {
        // A fixed buffer of the caller's cannot take more bytes.
        CArchiveException::Throw(CArchiveException::generic);
    }
    size_t newSize = std::max(nNewSize, m_nBufferSize + m_nBufferSize / 2);
    newSize = (newSize + m_nGrowBytes - 1) / m_nGrowBytes * m_nGrowBytes;
    BYTE* p = static_cast<BYTE*>(std::realloc(m_lpBuffer, newSize));
    if (!p) {
        CArchiveException::Throw(CArchiveException::generic);
    }
    m_lpBuffer = p;
    m_nBufferSize = newSize;
}

void CMemFile::Write(const void* lpBuf, UINT nCount) {
    if (nCount == 0) {
        return;
    }
    GrowTo(m_nPosition + nCount);
    if (m_nPosition > m_nFileSize) {
        // After a seek past the end the gap becomes part of the file: zeros,
        // not whatever the buffer held there before.
        std::memset(m_lpBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
    }
    std::memcpy(m_lpBuffer + m_nPosition, lpBuf, nCount);
    m_nPosition += nCount;
    m_nFileSize = std::max(m_nFileSize, m_nPosition);
}

ULONGLONG CMemFile::Seek(LONGLONG lOff, UINT nFrom) {
    LONGLONG base = 0;
    if (nFrom == current) {
        base = static_cast<LONGLONG>(m_nPosition);
    } else if (nFrom == end) {
        base = static_cast<LONGLONG>(m_nFileSize);
    }
    const LONGLONG target = base + lOff;
    if (target >= 0) {
        GrowTo(static_cast<size_t>(target));
        m_nPosition = static_cast<size_t>(target);
    }
    return m_nPosition;
}

void CMemFile::SetLength(ULONGLONG dwNewLen) {
    GrowTo(static_cast<size_t>(dwNewLen));
    if (dwNewLen > m_nFileSize) {
        std::memset(m_lpBuffer + m_nFileSize, 0, static_cast<size_t>(dwNewLen) - m_nFileSize);
    }
    m_nFileSize = static_cast<size_t>(dwNewLen);
    m_nPosition = std::min(m_nPosition, m_nFileSize);
}

void CMemFile::Close() {
    if (m_bAutoDelete) {
        std::free(m_lpBuffer);
    }
    m_lpBuffer = nullptr;
    m_nBufferSize = m_nFileSize = m_nPosition = 0;
}
