#include "kelvara/framework/String.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

char AsciiLower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

int ClampIndex(int n, int size) {
    return n < 0 ? 0 : (n > size ? size : n);
}

// The text printf writes for the format and arguments; empty for a null
// format or a format error. It is built in a string of its own, so the
// arguments may point into any string, the one it is later stored in too.
std::string Formatted(const char* pszFormat, va_list args) {
    std::string out;
    if (!pszFormat) {
        return out;
    }
    char stackBuf[256];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(stackBuf, sizeof stackBuf, pszFormat, copy);
    va_end(copy);
    if (needed < 0) {
        return out;
    }
    if (static_cast<size_t>(needed) < sizeof stackBuf) {
        out.assign(stackBuf, static_cast<size_t>(needed));
        return out;
    }
    out.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(out.data(), static_cast<size_t>(needed) + 1, pszFormat, args);
    out.resize(static_cast<size_t>(needed));
    return out;
}

}  // namespace

char CString::GetAt(int nIndex) const {
    return (nIndex >= 0 && nIndex < GetLength()) ? m_str[static_cast<size_t>(nIndex)] : '\0';
}

void CString::SetAt(int nIndex, char ch) {
    if (nIndex >= 0 && nIndex < GetLength()) {
        m_str[static_cast<size_t>(nIndex)] = ch;
    }
}

CString& CString::operator=(const char* psz) {
    m_str = psz ? psz : "";
    return *this;
}

CString& CString::operator=(char ch) {
    m_str.assign(1, ch);
    return *this;
}

CString& CString::operator+=(const CString& s) {
    m_str += s.m_str;
    return *this;
}

CString& CString::operator+=(const char* psz) {
    if (psz) {
        m_str += psz;
    }
    return *this;
}

CString& CString::operator+=(char ch) {
    m_str += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b) {
    return CString(a.m_str + b.m_str);
}

CString operator+(const CString& a, const char* b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const char* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, char b) {
    CString r(a);
    r += b;
    return r;
}

int CString::Compare(const char* psz) const {
    return std::strcmp(m_str.c_str(), psz ? psz : "");
}

int CString::CompareNoCase(const char* psz) const {
    const char* a = m_str.c_str();
    const char* b = psz ? psz : "";
    for (;; ++a, ++b) {
        const int ca = static_cast<unsigned char>(AsciiLower(*a));
        const int cb = static_cast<unsigned char>(AsciiLower(*b));
        if (ca != cb || ca == 0) {
            return ca - cb;
        }
    }
}

CString CString::Left(int nCount) const {
    return CString(m_str.substr(0, static_cast<size_t>(ClampIndex(nCount, GetLength()))));
}

CString CString::Right(int nCount) const {
    const int n = ClampIndex(nCount, GetLength());
    return CString(m_str.substr(static_cast<size_t>(GetLength() - n)));
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const {
    const int first = ClampIndex(nFirst, GetLength());
    const int count = ClampIndex(nCount, GetLength() - first);
    return CString(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::SpanIncluding(const char* pszCharSet) const {
    const size_t n = std::strspn(m_str.c_str(), pszCharSet ? pszCharSet : "");
    return Left(static_cast<int>(n));
}

CString CString::SpanExcluding(const char* pszCharSet) const {
    const size_t n = std::strcspn(m_str.c_str(), pszCharSet ? pszCharSet : "");
    return Left(static_cast<int>(n));
}

void CString::MakeUpper() {
    for (char& c : m_str) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
}

void CString::MakeLower() {
    for (char& c : m_str) {
        c = AsciiLower(c);
    }
}

void CString::MakeReverse() {
    std::reverse(m_str.begin(), m_str.end());
}

void CString::TrimLeft() {
    size_t i = 0;
    while (i < m_str.size() && std::isspace(static_cast<unsigned char>(m_str[i]))) {
        ++i;
    }
    m_str.erase(0, i);
}

void CString::TrimRight() {
    size_t n = m_str.size();
    while (n > 0 && std::isspace(static_cast<unsigned char>(m_str[n - 1]))) {
        --n;
    }
    m_str.resize(n);
}

void CString::TrimLeft(const char* pszTargets) {
    m_str.erase(0, m_str.find_first_not_of(pszTargets ? pszTargets : ""));
}

void CString::TrimRight(const char* pszTargets) {
    const size_t last = m_str.find_last_not_of(pszTargets ? pszTargets : "");
    m_str.resize(last == std::string::npos ? 0 : last + 1);
}

int CString::Find(char ch, int nStart) const {
    if (nStart < 0 || nStart >= GetLength()) {
        return -1;
    }
    const size_t pos = m_str.find(ch, static_cast<size_t>(nStart));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* pszSub, int nStart) const {
    if (!pszSub || nStart < 0 || nStart > GetLength()) {
        return -1;
    }
    const size_t pos = m_str.find(pszSub, static_cast<size_t>(nStart));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const {
    const size_t pos = m_str.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(const char* pszCharSet) const {
    const size_t pos = m_str.find_first_of(pszCharSet ? pszCharSet : "");
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Replace(char chOld, char chNew) {
    int n = 0;
    for (char& c : m_str) {
        if (c == chOld) {
            c = chNew;
            ++n;
        }
    }
    return n;
}

int CString::Replace(const char* pszOld, const char* pszNew) {
    if (!pszOld || !*pszOld) {
        return 0;
    }
    const std::string from(pszOld);
    const std::string to(pszNew ? pszNew : "");
    std::string out;
    int n = 0;
    size_t start = 0;
    for (size_t pos; (pos = m_str.find(from, start)) != std::string::npos;
         start = pos + from.size()) {
        out.append(m_str, start, pos - start);
        out += to;
        ++n;
    }
    if (n > 0) {
        out.append(m_str, start, std::string::npos);
        m_str.swap(out);
    }
    return n;
}

int CString::Remove(char ch) {
    const size_t before = m_str.size();
    m_str.erase(std::remove(m_str.begin(), m_str.end(), ch), m_str.end());
    return static_cast<int>(before - m_str.size());
}

int CString::Insert(int nIndex, char ch) {
    m_str.insert(static_cast<size_t>(ClampIndex(nIndex, GetLength())), 1, ch);
    return GetLength();
}

int CString::Insert(int nIndex, const char* psz) {
    if (psz) {
        m_str.insert(static_cast<size_t>(ClampIndex(nIndex, GetLength())), psz);
    }
    return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
    const int first = ClampIndex(nIndex, GetLength());
    const int count = ClampIndex(nCount, GetLength() - first);
    m_str.erase(static_cast<size_t>(first), static_cast<size_t>(count));
    return GetLength();
}

void CString::Format(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

void CString::FormatV(const char* pszFormat, va_list args) {
    m_str = Formatted(pszFormat, args);
}

void CString::AppendFormat(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    // Formatted whole before this string changes: an argument may be its text.
    m_str += Formatted(pszFormat, args);
    va_end(args);
}

char* CString::GetBuffer(int nMinBufLength) {
    if (nMinBufLength > GetLength()) {
        m_str.resize(static_cast<size_t>(nMinBufLength));
    }
    return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0) {
        m_str.resize(std::strlen(m_str.c_str()));
    } else if (nNewLength <= GetLength()) {
        m_str.resize(static_cast<size_t>(nNewLength));
    }
}

CString FormatString(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    CString s;
    s.FormatV(pszFormat, args);
    va_end(args);
    return s;
}
