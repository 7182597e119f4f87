#include "kelvara/addressing/EDFFormat.h"

#include <array>
#include <cstdint>
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

// Addresses are walked as zero-terminated text: a field looks only at the
// characters it takes, and the end shows as the terminator, so no length is
// worked out for a whole address.

// Characters before the terminator, counting at most nMax.
size_t LengthUpTo(const char* psz, size_t nMax) {
    size_t n = 0;
    while (n < nMax && psz[n] != '\0') {
        ++n;
    }
    return n;
}

// A zero-terminated view of part of an address, for the utility checks.
// Field values are short, so a copy normally stays on the stack; a value that
// ends the address is used where it lies.
class TerminatedText {
public:
    TerminatedText(const char* pch, size_t n) {
        if (pch[n] == '\0') {
            m_psz = pch;
        } else if (n < sizeof m_buf) {
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
    char m_buf[32];
    std::string m_heap;
    const char* m_psz;
};

// The value of a numeric field's text, and whether its radix accepts it.
//
// Plain digits (decimal "0"-"9"; hexadecimal "0"-"9" and "A"-"F"), not too
// many to convert exactly, are a number in any reading of the utility
// checks and have one value whatever the converter: they are read here in
// one pass. Any other text (signs, lower case, blanks, the empty text, long
// digit runs) goes to IsNumeric / IsHexadecimal and strtod / HexToLong.
struct NumericText {
    bool bNumber = false;
    double dValue = 0;
    LONG nValue = 0;
};

// Texts other than short runs of plain digits: the utility library decides.
[[gnu::noinline, gnu::cold]] NumericText ReadDecimalByUtility(const char* pch, size_t n) {
    NumericText result;
    const TerminatedText value(pch, n);
    result.bNumber = IsNumeric(value.c_str()) != 0;
    if (result.bNumber) {
        result.dValue = CEDFRange::TextToDouble(value.c_str());
    }
    return result;
}

[[gnu::noinline, gnu::cold]] NumericText ReadHexadecimalByUtility(const char* pch, size_t n) {
    NumericText result;
    const TerminatedText value(pch, n);
    result.bNumber = IsHexadecimal(value.c_str()) != 0;
    if (result.bNumber) {
        result.nValue = HexToLong(CString(std::string_view(pch, n)));
    }
    return result;
}

NumericText ReadDecimal(const char* pch, size_t n) {
    if (n >= 1 && n <= 15) {
        long long nValue = 0;
        size_t i = 0;
        for (; i < n && IsDigit(pch[i]); ++i) {
            nValue = nValue * 10 + (pch[i] - '0');
        }
        if (i == n) {
            NumericText result;
            result.bNumber = true;
            result.dValue = static_cast<double>(nValue);
            return result;
        }
    }
    return ReadDecimalByUtility(pch, n);
}

// Values of the upper-case hexadecimal digits; -1 for every other byte.
constexpr auto kUpperHexDigits = [] {
    std::array<signed char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[static_cast<size_t>(c)] =
            static_cast<signed char>((c >= '0' && c <= '9')   ? c - '0'
                                     : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                              : -1);
    }
    return table;
}();

int UpperHexDigitValue(char c) {
    return kUpperHexDigits[static_cast<unsigned char>(c)];
}

NumericText ReadHexadecimal(const char* pch, size_t n) {
    if (n >= 1 && n <= 7) {
        LONG nValue = 0;
        size_t i = 0;
        for (int d; i < n && (d = UpperHexDigitValue(pch[i])) >= 0; ++i) {
            nValue = nValue * 16 + d;
        }
        if (i == n) {
            NumericText result;
            result.bNumber = true;
            result.nValue = nValue;
            return result;
        }
    }
    return ReadHexadecimalByUtility(pch, n);
}

// A numeric field's text, read in the same pass that looks for the end of
// the address: whether the address ends inside the field, and the value when
// the text is plain digits of the radix (see NumericText).
struct FixedScan {
    bool bShort = false;
    bool bPlain = false;
    std::uint64_t nValue = 0;
};

FixedScan ScanFixedNumber(const char* pch, size_t nWidth, int nRadix) {
    FixedScan scan;
    scan.bPlain = nWidth >= 1 && ((nRadix == 10 && nWidth <= 15) || (nRadix == 16 && nWidth <= 7));
    std::uint64_t nValue = 0;
    if (nRadix == 16) {
        for (size_t i = 0; i < nWidth; ++i) {
            const char c = pch[i];
            if (c == '\0') {
                scan.bShort = true;
                return scan;
            }
            const int d = UpperHexDigitValue(c);
            if (d < 0) {
                scan.bPlain = false;
            }
            nValue = nValue * 16 + static_cast<std::uint64_t>(d & 15);
        }
    } else {
        for (size_t i = 0; i < nWidth; ++i) {
            const char c = pch[i];
            if (c == '\0') {
                scan.bShort = true;
                return scan;
            }
            const auto d = static_cast<std::uint64_t>(static_cast<unsigned char>(c) - '0');
            if (d > 9) {
                scan.bPlain = false;
            }
            nValue = nValue * 10 + d;
        }
    }
    scan.nValue = nValue;
    return scan;
}

// The value must lie in every range of the list. pFast, when given, holds
// what ScanFixedNumber found for this text.
[[gnu::always_inline]] inline EDF_RET CheckRangeText(const CEDFField& field, const char* pch,
                                                     size_t n, const FixedScan* pFast = nullptr) {
    const int nRanges = field.m_Ranges.GetSize();
    if (nRanges == 0) {
        return EDF_OK;
    }
    void* const* ppRanges = field.m_Ranges.GetData();
    if (field.m_nRadix == 10) {
        if (pFast && pFast->bPlain) {
            // At most 15 digits: a whole number, compared without a double.
            const auto nValue = static_cast<long long>(pFast->nValue);
            for (int i = 0; i < nRanges; ++i) {
                const auto* pRange = static_cast<const CEDFRange*>(ppRanges[i]);
                if (pRange &&
                    (nValue < pRange->GetLowCeiling() || nValue > pRange->GetHighFloor())) {
                    return EDF_OUT_OF_RANGE;
                }
            }
            return EDF_OK;
        }
        NumericText value;
        { value = ReadDecimal(pch, n); }
        if (!value.bNumber) {
            return EDF_NOT_A_NUMBER;
        }
        for (int i = 0; i < nRanges; ++i) {
            const auto* pRange = static_cast<const CEDFRange*>(ppRanges[i]);
            if (pRange && (pRange->GetLowDecimal() > value.dValue ||
                           pRange->GetHighDecimal() < value.dValue)) {
                return EDF_OUT_OF_RANGE;
            }
        }
        return EDF_OK;
    }
    if (field.m_nRadix == 16) {
        NumericText value;
        if (pFast && pFast->bPlain) {
            value.bNumber = true;
            value.nValue = static_cast<LONG>(pFast->nValue);
        } else {
            value = ReadHexadecimal(pch, n);
        }
        if (!value.bNumber) {
            return EDF_NOT_A_NUMBER;
        }
        for (int i = 0; i < nRanges; ++i) {
            const auto* pRange = static_cast<const CEDFRange*>(ppRanges[i]);
            if (pRange &&
                (value.nValue < pRange->GetLowHex() || value.nValue > pRange->GetHighHex())) {
                return EDF_OUT_OF_RANGE;
            }
        }
    }
    // Other radixes have no range check.
    return EDF_OK;
}

// Whether the address text at pch starts with exactly the n bytes of the
// keyword. The address's terminator never matches, so nothing past it is
// read, whatever the keyword holds.
[[gnu::always_inline]] inline bool SameBytes(const char* pszText, const char* pKeyword, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (pszText[i] == '\0' || pszText[i] != pKeyword[i]) {
            return false;
        }
    }
    return true;
}

// Fixed-width keywords compare exactly, whatever the field's case setting.
// A keyword that matches proves the address holds the whole width, so the
// length is looked at only when none does.
[[gnu::always_inline]] inline EDF_RET MatchFixedKeyword(const CEDFField& field, const char* pch,
                                                        size_t n, int* pnKeyword) {
    void* const* ppRanges = field.m_Ranges.GetData();
    const int nRanges = field.m_Ranges.GetSize();
    for (int i = 0; i < nRanges; ++i) {
        const auto* pRange = static_cast<const CEDFRange*>(ppRanges[i]);
        if (pRange && static_cast<size_t>(pRange->m_strLow.GetLength()) == n &&
            SameBytes(pch, pRange->m_strLow.GetString(), n)) {
            if (pnKeyword) {
                *pnKeyword = i;
            }
            return EDF_OK;
        }
    }
    return LengthUpTo(pch, n) < n ? EDF_TOO_SHORT : EDF_NOT_A_KEYWORD;
}

// Whether the keyword starts the text; the text's terminator never matches.
[[gnu::always_inline]] inline bool StartsWith(const char* pszText, const char* pKeyword,
                                              size_t nKeyword, bool bCaseSensitive) {
    if (bCaseSensitive) {
        return SameBytes(pszText, pKeyword, nKeyword);
    }
    for (size_t i = 0; i < nKeyword; ++i) {
        const char c = pszText[i];
        if (c == '\0' || LowerAscii(c) != LowerAscii(pKeyword[i])) {
            return false;
        }
    }
    return true;
}

// The shortest prefix of the rest that equals a keyword; among keywords of
// that length the first in the list. One pass over the keywords gives the
// same answer as growing the candidate a character at a time.
[[gnu::always_inline]] inline EDF_RET MatchVariableKeyword(const CEDFField& field,
                                                           const char* pszRest, size_t& rnTaken,
                                                           int* pnKeyword) {
    if (*pszRest == '\0') {
        return EDF_NO_KEYWORD_MATCH;
    }
    const bool bCaseSensitive = field.m_bCaseSensitive != FALSE;
    void* const* ppRanges = field.m_Ranges.GetData();
    const int nRanges = field.m_Ranges.GetSize();
    int nBest = -1;
    size_t nBestLength = 0;
    for (int i = 0; i < nRanges; ++i) {
        const auto* pRange = static_cast<const CEDFRange*>(ppRanges[i]);
        if (pRange == nullptr) {
            continue;
        }
        const auto nKeyword = static_cast<size_t>(pRange->m_strLow.GetLength());
        if (nKeyword == 0 || (nBest >= 0 && nKeyword >= nBestLength)) {
            continue;
        }
        if (StartsWith(pszRest, pRange->m_strLow.GetString(), nKeyword, bCaseSensitive)) {
            nBest = i;
            nBestLength = nKeyword;
            if (nKeyword == 1) {
                break;  // no later keyword can be shorter
            }
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

// One field's text at pszRest, part of pszAddress: its length goes to
// rnTaken, and a keyword field's position to *pnKeyword.
[[gnu::always_inline]] inline EDF_RET ExtractField(const CEDFField& field, const char* pszAddress,
                                                   const char* pszRest, size_t& rnTaken,
                                                   int* pnKeyword) {
    rnTaken = 0;
    if (field.m_bFree) {
        if (field.m_nWidth < 0) {
            rnTaken = std::strlen(pszRest);
            return EDF_OK;
        }
        const size_t nWidth = static_cast<size_t>(field.m_nWidth);
        if (LengthUpTo(pszRest, nWidth) < nWidth) {
            return EDF_TOO_SHORT;
        }
        rnTaken = nWidth;
        return EDF_OK;
    }
    if (field.m_nWidth > 0) {
        const size_t nWidth = static_cast<size_t>(field.m_nWidth);
        if (field.m_cType == 'N') {
            const FixedScan scan = ScanFixedNumber(pszRest, nWidth, field.m_nRadix);
            if (scan.bShort) {
                return EDF_TOO_SHORT;
            }
            rnTaken = nWidth;
            return CheckRangeText(field, pszRest, nWidth, &scan);
        }
        if (field.m_cType == 'T') {
            rnTaken = nWidth;
            return MatchFixedKeyword(field, pszRest, nWidth, pnKeyword);
        }
        if (LengthUpTo(pszRest, nWidth) < nWidth) {
            return EDF_TOO_SHORT;
        }
        rnTaken = nWidth;
        return EDF_FAILED;
    }
    if (field.m_cType == 'N') {
        if (*pszAddress == '\0') {
            return EDF_TOO_SHORT;
        }
        size_t n = 0;
        while (IsDigit(pszRest[n])) {
            ++n;
        }
        rnTaken = n;
        return CheckRangeText(field, pszRest, n);
    }
    if (field.m_cType == 'T') {
        return MatchVariableKeyword(field, pszRest, rnTaken, pnKeyword);
    }
    return EDF_FAILED;
}

// The field shapes that drivers use nearly always, checked without leaving
// the walk of Validate: keywords, numbers whose text is up to 15 decimal or 7
// upper-case hexadecimal digits filling a fixed width, and runs of up to 15
// decimal digits of a variable width. The result is kAskExtractField for any
// other field or text (free fields, signs, lower case, an address that ends
// inside the field, long digit runs): ExtractField then decides it from the
// start, so both roads give the same result.
constexpr int kAskExtractField = -1;

// A decimal field's ranges for a whole number of at most 15 digits.
[[gnu::always_inline]] inline int CheckWholeDecimal(const CEDFField& field, long long nValue) {
    void* const* ppRanges = field.m_Ranges.GetData();
    void* const* ppEnd = ppRanges + field.m_Ranges.GetSize();
    for (; ppRanges != ppEnd; ++ppRanges) {
        const auto* pRange = static_cast<const CEDFRange*>(*ppRanges);
        if (pRange && (nValue < pRange->GetLowCeiling() || nValue > pRange->GetHighFloor())) {
            return EDF_OUT_OF_RANGE;
        }
    }
    return EDF_OK;
}

[[gnu::always_inline]] inline int CheckWholeHexadecimal(const CEDFField& field, LONG nValue) {
    void* const* ppRanges = field.m_Ranges.GetData();
    void* const* ppEnd = ppRanges + field.m_Ranges.GetSize();
    for (; ppRanges != ppEnd; ++ppRanges) {
        const auto* pRange = static_cast<const CEDFRange*>(*ppRanges);
        if (pRange && (nValue < pRange->GetLowHex() || nValue > pRange->GetHighHex())) {
            return EDF_OUT_OF_RANGE;
        }
    }
    return EDF_OK;
}

[[gnu::always_inline]] inline int QuickField(const CEDFField& field, const char* pszAddress,
                                             const char* pszRest, size_t& rnTaken) {
    if (field.m_bFree) {
        return kAskExtractField;
    }
    if (field.m_nWidth <= 0) {
        if (field.m_cType == 'T') {
            return MatchVariableKeyword(field, pszRest, rnTaken, nullptr);
        }
        if (field.m_cType != 'N' || field.m_nRadix != 10 || *pszAddress == '\0') {
            return kAskExtractField;
        }
        // A run of decimal digits, read as a whole number when it is short
        // enough to be exact, as in the fixed-width case below.
        long long nValue = 0;
        size_t n = 0;
        while (n <= 15) {
            const unsigned d = static_cast<unsigned char>(pszRest[n]) - unsigned{'0'};
            if (d > 9) {
                break;
            }
            nValue = nValue * 10 + d;
            ++n;
        }
        if (n == 0 || n > 15) {
            return kAskExtractField;
        }
        rnTaken = n;
        return CheckWholeDecimal(field, nValue);
    }
    const size_t nWidth = static_cast<size_t>(field.m_nWidth);
    if (field.m_cType == 'T') {
        rnTaken = nWidth;
        return MatchFixedKeyword(field, pszRest, nWidth, nullptr);
    }
    if (field.m_cType != 'N') {
        return kAskExtractField;
    }
    if (field.m_nRadix == 10 && nWidth <= 15) {
        // The end of the text and every non-digit stop the loop alike.
        long long nValue = 0;
        for (size_t i = 0; i < nWidth; ++i) {
            const unsigned d = static_cast<unsigned char>(pszRest[i]) - unsigned{'0'};
            if (d > 9) {
                return kAskExtractField;
            }
            nValue = nValue * 10 + d;
        }
        rnTaken = nWidth;
        return CheckWholeDecimal(field, nValue);
    }
    if (field.m_nRadix == 16 && nWidth <= 7) {
        LONG nValue = 0;
        for (size_t i = 0; i < nWidth; ++i) {
            const int d = UpperHexDigitValue(pszRest[i]);
            if (d < 0) {
                return kAskExtractField;
            }
            nValue = nValue * 16 + d;
        }
        rnTaken = nWidth;
        return CheckWholeHexadecimal(field, nValue);
    }
    return kAskExtractField;
}

// ExtractField kept out of the walk of Validate, so that the walk's own
// values stay in registers for the shapes QuickField handles.
struct TakenText {
    EDF_RET eResult;
    size_t nLength;
};

[[gnu::noinline]] TakenText ExtractFieldApart(const CEDFField& field, const char* pszAddress,
                                              const char* pszRest) {
    TakenText taken{EDF_OK, 0};
    taken.eResult = ExtractField(field, pszAddress, pszRest, taken.nLength, nullptr);
    return taken;
}

// Takes the next element of the format's layout over the address.
inline EDF_RET StepLayout(const CEDFFormat& format, const char* pszAddress,
                          CEDFFormat::LayoutCursor& cursor, CEDFFormat::LayoutItem& item) {
    using LayoutItem = CEDFFormat::LayoutItem;
    const char* pLayout = format.m_strLayout.GetString();
    const int nLayoutLength = format.m_strLayout.GetLength();
    for (;;) {
        if (cursor.nLayout >= nLayoutLength) {
            item.eKind = LayoutItem::END;
            return EDF_OK;
        }
        const char cElement = pLayout[cursor.nLayout];
        if (cElement == 'F') {
            ++cursor.nLayout;
            const CEDFField* pField = format.m_Fields.FindIndex(cursor.nField);
            if (pField == nullptr) {
                return EDF_UNKNOWN_FIELD_INDEX;
            }
            size_t nTaken = 0;
            const EDF_RET eResult = ExtractField(*pField, pszAddress, pszAddress + cursor.nPosition,
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
            if (cLiteral == '\0' || pszAddress[cursor.nPosition] != cLiteral) {
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

EDF_RET CEDFFormat::NextItem(const char* pszAddress, LayoutCursor& cursor, LayoutItem& item) const {
    return StepLayout(*this, pszAddress ? pszAddress : "", cursor, item);
}

// The same walk as StepLayout, kept to what a check needs.
EDF_RET CEDFFormat::Validate(const char* pszAddress) {
    if (!m_bParsed) {
        ValidateFormat();
    }
    const char* const pszText = pszAddress ? pszAddress : "";
    const char* pszRest = pszText;
    const char* pLayout = m_strLayout.GetString();
    const char* const pLayoutEnd = pLayout + m_strLayout.GetLength();
    // Nothing in the walk changes the fields.
    const CEDFFieldMap::DenseIndex dense = m_Fields.GetDenseIndex();
    CEDFField* const* pDense = dense.fields;
    CEDFField* const* const pDenseEnd = dense.fields + dense.nSize;
    int nField = 0;
    while (pLayout != pLayoutEnd) {
        const char cElement = *pLayout++;
        if (cElement == 'F') {
            ++nField;
            const CEDFField* pField = pDense != pDenseEnd ? *pDense++ : nullptr;
            if (pField == nullptr || pField->m_nIndex != nField) {
                pField = m_Fields.FindIndex(nField);
                if (pField == nullptr) {
                    return EDF_UNKNOWN_FIELD_INDEX;
                }
            }
            size_t nTaken = 0;
            int nResult = QuickField(*pField, pszText, pszRest, nTaken);
            if (nResult == kAskExtractField) {
                const TakenText taken = ExtractFieldApart(*pField, pszText, pszRest);
                nResult = taken.eResult;
                nTaken = taken.nLength;
            }
            if (nResult != EDF_OK) {
                return static_cast<EDF_RET>(nResult);
            }
            pszRest += nTaken;
        } else if (cElement == 'L') {
            // A layout cut short after "L" holds a literal no address repeats.
            if (pLayout == pLayoutEnd || *pLayout == '\0' || *pszRest != *pLayout) {
                return EDF_LITERAL_MISMATCH;
            }
            ++pLayout;
            ++pszRest;
        }
    }
    return *pszRest == '\0' ? EDF_OK : EDF_EXTRA_CHARACTERS;
}

EDF_RET CEDFFormat::FindFieldValue(const char* pszAddress, int nIndex, LayoutItem& item) const {
    if (m_Fields.FindIndex(nIndex) == nullptr) {
        return EDF_UNKNOWN_FIELD_INDEX;
    }
    const char* pszText = pszAddress ? pszAddress : "";
    LayoutCursor cursor;
    for (;;) {
        const EDF_RET eResult = StepLayout(*this, pszText, cursor, item);
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
    const char* pszRest = pszText + LengthUpTo(pszText, nStart);
    size_t nTaken = 0;
    const EDF_RET eResult = ExtractField(*pField, pszText, pszRest, nTaken, pnKeyword);
    if (eResult == EDF_OK) {
        strValue = CString(std::string_view(pszRest, nTaken));
    }
    return eResult;
}

EDF_RET CEDFFormat::CheckRange(CEDFField* pField, CString& strValue) const {
    if (pField == nullptr) {
        return EDF_FAILED;
    }
    return CheckRangeText(*pField, strValue.GetString(), static_cast<size_t>(strValue.GetLength()));
}
