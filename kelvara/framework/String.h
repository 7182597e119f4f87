/** \addtogroup framework
 @{ */
/// CString: growable text of 8-bit characters, copied by value.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CString {
public:
    /// An empty string.
    CString() = default;
    ///@{
    /// From a C string (null reads as empty), a run of characters, a repeated character or a
    /// std::string.
    CString(const char* psz) : m_str(psz ? psz : "") {}  // NOLINT: implicit as in the framework
    CString(const char* pch, int nLength)
        : m_str(pch ? pch : "", pch && nLength > 0 ? nLength : 0) {}
    CString(char ch, int nRepeat = 1) : m_str(nRepeat > 0 ? nRepeat : 0, ch) {}
    CString(const std::string& s) : m_str(s) {}        // NOLINT
    CString(std::string&& s) : m_str(std::move(s)) {}  // NOLINT
    CString(std::string_view s) : m_str(s) {}          // NOLINT
    ///@}

    ///@{
    /// Length and emptiness.
    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    ///@}

    /// Out-of-range positions read as '\0' and are ignored on write.
    char GetAt(int nIndex) const;
    ///@{
    /// See GetAt.
    void SetAt(int nIndex, char ch);
    char operator[](int nIndex) const { return GetAt(nIndex); }
    ///@}

    ///@{
    /// The text; valid until the string changes.
    operator const char*() const { return m_str.c_str(); }  // NOLINT
    const char* GetString() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }
    std::string& str() { return m_str; }
    ///@}

    ///@{
    /// Assignment and appending.
    CString& operator=(const char* psz);
    CString& operator=(char ch);
    CString& operator+=(const CString& s);
    CString& operator+=(const char* psz);
    CString& operator+=(char ch);
    ///@}

    friend KELVARA_API CString operator+(const CString& a, const CString& b);
    friend KELVARA_API CString operator+(const CString& a, const char* b);
    friend KELVARA_API CString operator+(const char* a, const CString& b);
    friend KELVARA_API CString operator+(const CString& a, char b);

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend bool operator==(const char* a, const CString& b) { return b == a; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(b == a); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

    /// Byte-wise comparison: <0, 0 or >0.
    int Compare(const char* psz) const;
    /// Comparison ignoring ASCII case.
    int CompareNoCase(const char* psz) const;

    /// Substrings; counts and positions are clamped to the text.
    CString Left(int nCount) const;
    ///@{
    /// See Left.
    CString Right(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString SpanIncluding(const char* pszCharSet) const;
    CString SpanExcluding(const char* pszCharSet) const;
    ///@}

    ///@{
    /// Case, order and blanks, changed in place.
    void MakeUpper();
    void MakeLower();
    void MakeReverse();
    void TrimLeft();
    void TrimRight();
    void TrimLeft(const char* pszTargets);
    void TrimRight(const char* pszTargets);
    ///@}

    /// Position of the first match at or after nStart, or -1.
    int Find(char ch, int nStart = 0) const;
    ///@{
    /// Search, replace, remove, insert and delete; the counting ones return how many characters
    /// were changed or the new length.
    int Find(const char* pszSub, int nStart = 0) const;
    int ReverseFind(char ch) const;
    int FindOneOf(const char* pszCharSet) const;
    int Replace(char chOld, char chNew);
    int Replace(const char* pszOld, const char* pszNew);
    int Remove(char ch);
    int Insert(int nIndex, char ch);
    int Insert(int nIndex, const char* psz);
    int Delete(int nIndex, int nCount = 1);
    ///@}

    /// printf-style formatting; the result grows to fit, whatever its length.
    /// An argument may be this string's own text.
    void Format(const char* pszFormat, ...) KELVARA_PRINTF_FORMAT(2, 3);
    ///@{
    /// See Format.
    void FormatV(const char* pszFormat, va_list args);
    void AppendFormat(const char* pszFormat, ...) KELVARA_PRINTF_FORMAT(2, 3);
    ///@}

    /// Writable buffer of at least nMinBufLength characters; ReleaseBuffer
    /// takes the length up to the first '\0' (nNewLength < 0) or as given.
    char* GetBuffer(int nMinBufLength);
    /// See GetBuffer.
    void ReleaseBuffer(int nNewLength = -1);

private:
    std::string m_str;
};

/// Formats into a new string; never overflows.
KELVARA_API CString FormatString(const char* pszFormat, ...) KELVARA_PRINTF_FORMAT(1, 2);
/** @} */
