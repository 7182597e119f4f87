#include "kelvara/addressing/EDFFormat.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "kelvara/sibling/Utility.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// A zero-terminated copy of part of an address, for the utility checks and
// strtod. Field values are short, so they normally stay on the stack.
class TerminatedText {
public:
    TerminatedText(const char* pch, size_t n) {
        if (n < sizeof m_buf) {
            std::memcpy(m_buf, pch, n);
            m_buf[n] = '\0';
            m_psz = m_buf;
        } else {
            m_heap.assign(pch, n);
            m_psz = m_heap.c_str();
        }
    }
    TerminatedText(const TerminatedText&) = delete;
    TerminatedText& operator=(const TerminatedText&) = delete;
    const char* c_str() const { return m_psz; }

private:
    char m_buf[64];
    std::string m_heap;
    const char* m_psz;
};

// strtod of the text. Up to 15 decimal digits with an optional sign are
// exact in a double, so they are converted directly with the same result;
// anything else goes to strtod itself.
double TextToDouble(const char* psz) {
    const char* p = psz;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    long long value = 0;
    int digits = 0;
    for (; IsDigit(*p) && digits <= 15; ++p, ++digits) {
        value = value * 10 + (*p - '0');
    }
    if (*p != '\0' || digits > 15) {
        return std::strtod(psz, nullptr);
    }
    const double d = static_cast<double>(value);
    return negative ? -d : d;
}

EDF_RET CheckRangeText(const CEDFField& field, const char* pch, size_t n) {
    const int nRanges = field.m_Ranges.GetSize();
    if (nRanges == 0) {
        return EDF_OK;
    }
    if (field.m_nRadix == 10) {
        const TerminatedText value(pch, n);
        if (!IsNumeric(value.c_str())) {
            return EDF_NOT_A_NUMBER;
        }
        const double dValue = TextToDouble(value.c_str());
        for (int i = 0; i < nRanges; ++i) {
            const CEDFRange* pRange = field.m_Ranges.GetAt(i);
            if (pRange == nullptr) {
                continue;
            }
            if (TextToDouble(pRange->m_strLow) > dValue ||
                TextToDouble(pRange->m_strHigh) < dValue) {
                return EDF_OUT_OF_RANGE;
            }
        }
        return EDF_OK;
    }
    if (field.m_nRadix == 16) {
        const CString value(std::string_view(pch, n));
        if (!IsHexadecimal(value)) {
            return EDF_NOT_A_NUMBER;
        }
        const LONG nValue = HexToLong(value);
        for (int i = 0; i < nRanges; ++i) {
            const CEDFRange* pRange = field.m_Ranges.GetAt(i);
            if (pRange == nullptr) {
                continue;
            }
            if (nValue < HexToLong(pRange->m_strLow) || nValue > HexToLong(pRange->m_strHigh)) {
                return EDF_OUT_OF_RANGE;
            }
        }
    }
    // Other radixes have no range check.
    return EDF_OK;
}

// Fixed-width keywords compare exactly, whatever the field's case setting.
EDF_RET MatchFixedKeyword(const CEDFField& field, const char* pch, size_t n, int* pnKeyword) {
    for (int i = 0; i < field.m_Ranges.GetSize(); ++i) {
        const CEDFRange* pRange = field.m_Ranges.GetAt(i);
        if (pRange && static_cast<size_t>(pRange->m_strLow.GetLength()) == n &&
            std::memcmp(pRange->m_strLow.GetString(), pch, n) == 0) {
            if (pnKeyword) {
                *pnKeyword = i;
            }
            return EDF_OK;
        }
    }
    return EDF_NOT_A_KEYWORD;
}

// The shortest prefix of the rest that equals a keyword; among keywords of
// that length the first in the list. One pass over the keywords gives the
// same answer as growing the candidate a character at a time.
EDF_RET MatchVariableKeyword(const CEDFField& field, const char* pRest, size_t nRest,
                             size_t& rnTaken, int* pnKeyword) {
    if (nRest == 0) {
        return EDF_NO_KEYWORD_MATCH;
    }
    int nBest = -1;
    size_t nBestLength = nRest + 1;
    for (int i = 0; i < field.m_Ranges.GetSize(); ++i) {
        const CEDFRange* pRange = field.m_Ranges.GetAt(i);
        if (pRange == nullptr) {
            continue;
        }
        const size_t nKeyword = static_cast<size_t>(pRange->m_strLow.GetLength());
        if (nKeyword == 0 || nKeyword >= nBestLength) {
            continue;
        }
        const char* pKeyword = pRange->m_strLow.GetString();
        const bool bEqual = field.m_bCaseSensitive ? std::memcmp(pKeyword, pRest, nKeyword) == 0
                                                   : EqualNoCase(pKeyword, pRest, nKeyword);
        if (bEqual) {
            nBest = i;
            nBestLength = nKeyword;
        }
    }
    if (nBest < 0) {
        return EDF_NO_KEYWORD_MATCH;
    }
    rnTaken = nBestLength;
    if (pnKeyword) {
        *pnKeyword = nBest;
    }
    return EDF_OK;
}

// One field's text at nStart (at most nLength): its length goes to rnTaken.
EDF_RET ExtractField(const CEDFField& field, const char* pszAddress, size_t nLength, size_t nStart,
                     size_t& rnTaken, int* pnKeyword) {
    const size_t nRest = nLength - nStart;
    const char* pRest = pszAddress + nStart;
    rnTaken = 0;
    if (field.m_bFree) {
        if (field.m_nWidth < 0) {
            rnTaken = nRest;
            return EDF_OK;
        }
        const size_t nWidth = static_cast<size_t>(field.m_nWidth);
        if (nWidth > nRest) {
            return EDF_TOO_SHORT;
        }
        rnTaken = nWidth;
        return EDF_OK;
    }
    if (field.m_nWidth > 0) {
        const size_t nWidth = static_cast<size_t>(field.m_nWidth);
        if (nWidth > nRest) {
            return EDF_TOO_SHORT;
        }
        rnTaken = nWidth;
        if (field.m_cType == 'N') {
            return CheckRangeText(field, pRest, nWidth);
        }
        if (field.m_cType == 'T') {
            return MatchFixedKeyword(field, pRest, nWidth, pnKeyword);
        }
        return EDF_FAILED;
    }
    if (field.m_cType == 'N') {
        if (nLength == 0) {
            return EDF_TOO_SHORT;
        }
        size_t n = 0;
        while (n < nRest && IsDigit(pRest[n])) {
            ++n;
        }
        rnTaken = n;
        return CheckRangeText(field, pRest, n);
    }
    if (field.m_cType == 'T') {
        return MatchVariableKeyword(field, pRest, nRest, rnTaken, pnKeyword);
    }
    return EDF_FAILED;
}

}  // namespace

CEDFFormat::CEDFFormat(const char* pszFormat, const char* pszAttributes)
    : m_strFormat(pszFormat), m_strAttributes(pszAttributes) {}

CEDFFormat::CEDFFormat(const CEDFFormat& other) {
    *this = other;
}

CEDFFormat& CEDFFormat::operator=(const CEDFFormat& other) {
    if (this == &other) {
        return *this;
    }
    m_strLayout = other.m_strLayout;
    m_bParsed = other.m_bParsed;
    DeleteFields();
    m_Fields = other.m_Fields;
    m_strFormat = other.m_strFormat;
    m_strAttributes = other.m_strAttributes;
    m_Report = other.m_Report;
    return *this;
}

CEDFFormat::~CEDFFormat() {
    DeleteFields();
}

EDF_RET CEDFFormat::ValidateFormat() {
    Parse();
    m_bParsed = TRUE;
    return EDF_OK;
}

void CEDFFormat::DeleteFields() {
    m_Fields.RemoveAll();
}

void CEDFFormat::Serialize(CArchive& ar) {
    (void)ar;
}

int CEDFFormat::GetFieldInError(const char* pszAddress) const {
    (void)pszAddress;
    return 0;
}

CString CEDFFormat::GetErrorString(EDF_RET eCode) const {
    return FormatString("%d", static_cast<int>(eCode));
}

EDF_RET CEDFFormat::NextItem(const char* pszAddress, size_t nLength, LayoutCursor& cursor,
                             LayoutItem& item) const {
    const char* pLayout = m_strLayout.GetString();
    const int nLayoutLength = m_strLayout.GetLength();
    for (;;) {
        if (cursor.nLayout >= nLayoutLength) {
            item.eKind = LayoutItem::END;
            return EDF_OK;
        }
        const char cElement = pLayout[cursor.nLayout];
        if (cElement == 'F') {
            ++cursor.nLayout;
            const CEDFField* pField = m_Fields.FindIndex(cursor.nField);
            if (pField == nullptr) {
                return EDF_UNKNOWN_FIELD_INDEX;
            }
            size_t nTaken = 0;
            const EDF_RET eResult = ExtractField(*pField, pszAddress, nLength, cursor.nPosition,
                                                 nTaken, &item.nKeyword);
            if (eResult != EDF_OK) {
                return eResult;
            }
            item.eKind = LayoutItem::FIELD;
            item.pField = pField;
            item.nField = cursor.nField;
            item.nStart = cursor.nPosition;
            item.nLength = nTaken;
            cursor.nPosition += nTaken;
            ++cursor.nField;
            return EDF_OK;
        }
        if (cElement == 'L') {
            // A layout cut short after "L" holds a literal no address repeats.
            const char cLiteral =
                cursor.nLayout + 1 < nLayoutLength ? pLayout[cursor.nLayout + 1] : '\0';
            cursor.nLayout += 2;
            if (cursor.nPosition >= nLength || pszAddress[cursor.nPosition] != cLiteral) {
                return EDF_LITERAL_MISMATCH;
            }
            item.eKind = LayoutItem::LITERAL;
            item.chLiteral = cLiteral;
            item.nStart = cursor.nPosition;
            item.nLength = 1;
            ++cursor.nPosition;
            return EDF_OK;
        }
        // Only the parse writes the layout; anything else in it is passed over.
        ++cursor.nLayout;
    }
}

EDF_RET CEDFFormat::Validate(const char* pszAddress) {
    if (!m_bParsed) {
        ValidateFormat();
    }
    const char* pszText = pszAddress ? pszAddress : "";
    const size_t nLength = std::strlen(pszText);
    LayoutCursor cursor;
    LayoutItem item;
    do {
        const EDF_RET eResult = NextItem(pszText, nLength, cursor, item);
        if (eResult != EDF_OK) {
            return eResult;
        }
    } while (item.eKind != LayoutItem::END);
    return cursor.nPosition == nLength ? EDF_OK : EDF_EXTRA_CHARACTERS;
}

EDF_RET CEDFFormat::FindFieldValue(const char* pszAddress, int nIndex, LayoutItem& item) const {
    if (m_Fields.FindIndex(nIndex) == nullptr) {
        return EDF_UNKNOWN_FIELD_INDEX;
    }
    const char* pszText = pszAddress ? pszAddress : "";
    const size_t nLength = std::strlen(pszText);
    LayoutCursor cursor;
    for (;;) {
        const EDF_RET eResult = NextItem(pszText, nLength, cursor, item);
        if (eResult != EDF_OK) {
            return eResult;
        }
        if (item.eKind == LayoutItem::END) {
            // The field is held but the layout has no place for it.
            return EDF_UNKNOWN_FIELD_INDEX;
        }
        if (item.eKind == LayoutItem::FIELD && item.nField == nIndex) {
            return EDF_OK;
        }
    }
}

EDF_RET CEDFFormat::Field(const char* pszAddress, int nIndex, CString& strValue) const {
    LayoutItem item;
    const EDF_RET eResult = FindFieldValue(pszAddress, nIndex, item);
    if (eResult == EDF_OK) {
        strValue = CString(std::string_view(pszAddress + item.nStart, item.nLength));
    }
    return eResult;
}

EDF_RET CEDFFormat::Field(const char* pszAddress, int nIndex, int* pnKeyword) const {
    LayoutItem item;
    item.nKeyword = pnKeyword ? *pnKeyword : 0;
    const EDF_RET eResult = FindFieldValue(pszAddress, nIndex, item);
    if (eResult == EDF_OK && pnKeyword && item.pField->m_cType == 'T' && !item.pField->m_bFree) {
        *pnKeyword = item.nKeyword;
    }
    return eResult;
}

EDF_RET CEDFFormat::Field(const char* pszAddress, const char* pszName, CString& strValue) const {
    CEDFField* pField = nullptr;
    if (!m_Fields.Lookup(pszName, pField)) {
        return EDF_UNKNOWN_FIELD_NAME;
    }
    return Field(pszAddress, pField->m_nIndex, strValue);
}

EDF_RET CEDFFormat::ExtractValue(int nField, const char* pszAddress, unsigned int nStart,
                                 CString& strValue, int* pnKeyword) const {
    const CEDFField* pField = m_Fields.FindIndex(nField);
    if (pField == nullptr) {
        return EDF_UNKNOWN_FIELD_INDEX;
    }
    const char* pszText = pszAddress ? pszAddress : "";
    const size_t nLength = std::strlen(pszText);
    const size_t nFrom = nStart < nLength ? nStart : nLength;
    size_t nTaken = 0;
    const EDF_RET eResult = ExtractField(*pField, pszText, nLength, nFrom, nTaken, pnKeyword);
    if (eResult == EDF_OK) {
        strValue = CString(std::string_view(pszText + nFrom, nTaken));
    }
    return eResult;
}

EDF_RET CEDFFormat::CheckRange(CEDFField* pField, CString& strValue) const {
    if (pField == nullptr) {
        return EDF_FAILED;
    }
    return CheckRangeText(*pField, strValue.GetString(), static_cast<size_t>(strValue.GetLength()));
}
