// The encoded address and the next address of a CRemoteAddress.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kelvara/addressing/RemoteAddress.h"
#include "kelvara/sibling/Utility.h"

namespace {

// atol as a 32-bit long gives it: out-of-range values stop at the limits.
LONG DecimalToLong(const CString& strText) {
    const long value = std::strtol(strText.GetString(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<LONG>(value);
}

LONG NumericValue(const CString& strText, int nRadix) {
    if (nRadix == 16) {
        return HexToLong(strText);
    }
    if (nRadix == 8) {
        return OctalToLong(strText);
    }
    return DecimalToLong(strText);
}

// The sum is a 32-bit integer and wraps as one.
LONG AddStep(LONG nValue, int nStep) {
    return static_cast<LONG>(static_cast<DWORD>(nValue) + static_cast<DWORD>(nStep));
}

CString SteppedText(const CEDFField& field, const CString& strText) {
    if (field.m_nWidth < 0) {
        return FormatString("%d", static_cast<int>(AddStep(DecimalToLong(strText), field.m_nStep)));
    }
    // The precision is the width, so the digits are zero-filled to it; the
    // width is never more than the text taken from the address.
    const int nWidth = field.m_nWidth;
    if (field.m_nRadix == 16) {
        const LONG nSum = AddStep(HexToLong(strText), field.m_nStep);
        return FormatString("%.*X", nWidth, static_cast<unsigned>(static_cast<DWORD>(nSum)));
    }
    if (field.m_nRadix == 8) {
        // Octal steps the way hexadecimal does, in its own digits.
        const LONG nSum = AddStep(OctalToLong(strText), field.m_nStep);
        return FormatString("%.*o", nWidth, static_cast<unsigned>(static_cast<DWORD>(nSum)));
    }
    return FormatString("%.*d", nWidth,
                        static_cast<int>(AddStep(DecimalToLong(strText), field.m_nStep)));
}

void AppendLittleEndian(CByteArray& encoded, DWORD dwValue, int nBytes) {
    for (int i = 0; i < nBytes; ++i) {
        encoded.Add(static_cast<BYTE>(dwValue >> (8 * i)));
    }
}

}  // namespace

// Field values are read in index order, and fields follow each other in the
// layout in that order, so one walk over the address serves every field.
class CEDFFieldReader {
public:
    CEDFFieldReader(const CEDFFormat& format, const CString& strAddress)
        : m_format(format),
          m_pszAddress(strAddress.GetString()),
          m_nLength(static_cast<size_t>(strAddress.GetLength())) {}

    // The text and keyword position of field nIndex; FALSE when the address
    // cannot give them (an error before or in the field).
    bool Read(int nIndex, CString& strText, int& rnKeyword) {
        while (m_bReadable && m_item.nField < nIndex) {
            if (m_format.NextItem(m_pszAddress, m_nLength, m_cursor, m_item) != EDF_OK ||
                m_item.eKind == CEDFFormat::LayoutItem::END) {
                m_bReadable = false;
            }
        }
        if (!m_bReadable || m_item.nField != nIndex) {
            return false;
        }
        strText = CString(std::string_view(m_pszAddress + m_item.nStart, m_item.nLength));
        rnKeyword = m_item.nKeyword;
        return true;
    }

private:
    const CEDFFormat& m_format;
    const char* m_pszAddress;
    size_t m_nLength;
    CEDFFormat::LayoutCursor m_cursor;
    CEDFFormat::LayoutItem m_item;
    bool m_bReadable = true;
};

EDF_RET CRemoteAddress::Compress(CByteArray& encoded) const {
    EDF_RET eResult = EDF_OK;
    CEDFFieldReader reader(m_Format, m_strAddress);
    const int nCount = m_Format.m_Fields.GetCount();
    for (int i = 1; i <= nCount; ++i) {
        const CEDFField* pField = m_Format.m_Fields.FindIndex(i);
        if (pField == nullptr) {
            return EDF_FAILED;
        }
        const int nSize = pField->m_nEncodedSize;
        if (nSize != 1 && nSize != 2 && nSize != 4) {
            eResult = EDF_FAILED;
            continue;
        }
        const bool bNumber = pField->m_cType == 'N';
        if (!bNumber && nSize != 1) {
            continue;  // a keyword is encoded in one byte or not at all
        }
        CString strText;
        int nKeyword = 0;
        const bool bRead = reader.Read(i, strText, nKeyword);
        DWORD dwValue = 0;
        if (bNumber) {
            dwValue = static_cast<DWORD>(NumericValue(strText, pField->m_nRadix));
        } else if (bRead && !pField->m_bFree) {
            dwValue = static_cast<DWORD>(nKeyword);
        }
        AppendLittleEndian(encoded, dwValue, nSize);
    }
    return eResult;
}

EDF_RET CRemoteAddress::GetNextAddress(CRemoteAddress& rNext) const {
    std::string strNext;
    CEDFFormat::LayoutCursor cursor;
    CEDFFormat::LayoutItem item;
    const char* pszAddress = m_strAddress.GetString();
    const size_t nLength = static_cast<size_t>(m_strAddress.GetLength());
    for (;;) {
        const EDF_RET eResult = m_Format.NextItem(pszAddress, nLength, cursor, item);
        if (eResult != EDF_OK) {
            return eResult;
        }
        if (item.eKind == CEDFFormat::LayoutItem::END) {
            break;
        }
        const std::string_view text(pszAddress + item.nStart, item.nLength);
        if (item.eKind == CEDFFormat::LayoutItem::FIELD && item.pField->m_bIncrement) {
            strNext += SteppedText(*item.pField, CString(text)).str();
        } else {
            strNext += text;
        }
    }
    // Characters after the last element of the layout are not carried over.
    if (&rNext != this) {
        rNext = *this;
    }
    rNext.m_strAddress = CString(std::move(strNext));
    return EDF_OK;
}
