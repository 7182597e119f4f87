#include "kelvara/sibling/Utility.h"

#include <cstring>

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/File.h"

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 99;
}

int AllDigits(const char* psz, int nBase) {
    if (psz == nullptr || *psz == '\0') {
        return 0;
    }
    for (; *psz; ++psz) {
        if (DigitValue(*psz) >= nBase) {
            return 0;
        }
    }
    return 1;
}

LONG ParseBase(const CString& strText, int nBase) {
    const char* p = strText.GetString();
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    DWORD value = 0;
    for (int d; (d = DigitValue(*p)) < nBase; ++p) {
        value = value * static_cast<DWORD>(nBase) + static_cast<DWORD>(d);
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<LONG>(value);
}

template <typename T>
void ToBytes(T value, CByteArray& array) {
    if (array.GetSize() < static_cast<int>(sizeof(T))) {
        array.SetSize(sizeof(T));
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i) {
        array[static_cast<int>(i)] = static_cast<BYTE>(bits >> (8 * i));
    }
}

template <typename T>
T FromBytes(const CByteArray& array) {
    std::uint64_t bits = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        bits |= static_cast<std::uint64_t>(array.GetAt(static_cast<int>(i))) << (8 * i);
    }
    T value;
    std::memcpy(&value, &bits, sizeof(T));
    return value;
}

}  // namespace

int ModuleLoadString(CString* pString, UINT nID, HINSTANCE hModule) {
    const char* text = FindStringResource(hModule, nID);
    if (text == nullptr) {
        return 0;
    }
    if (pString) {
        *pString = text;
    }
    return 1;
}

int IsNumeric(const char* pszText) {
    if (pszText && (*pszText == '-' || *pszText == '+')) {
        ++pszText;
    }
    return AllDigits(pszText, 10);
}

int IsHexadecimal(const char* pszText) {
    return AllDigits(pszText, 16);
}

int IsOctal(const char* pszText) {
    return AllDigits(pszText, 8);
}

LONG HexToLong(const CString& strText) {
    return ParseBase(strText, 16);
}

LONG OctalToLong(const CString& strText) {
    return ParseBase(strText, 8);
}

int GetBit(int nBit, BYTE byBits) {
    return (nBit >= 0 && nBit <= 7) ? (byBits >> nBit) & 1 : 0;
}

void SetBit(int nBit, int nValue, unsigned char& byBits) {
    if (nBit < 0 || nBit > 7) {
        return;
    }
    const auto mask = static_cast<unsigned char>(1u << nBit);
    byBits = static_cast<unsigned char>(nValue ? (byBits | mask) : (byBits & ~mask));
}

void ShortToByteArray(short nValue, CByteArray& array) {
    ToBytes(nValue, array);
}

void LongToByteArray(LONG nValue, CByteArray& array) {
    ToBytes(nValue, array);
}

void FloatToByteArray(float fValue, CByteArray& array) {
    ToBytes(fValue, array);
}

void DoubleToByteArray(double dValue, CByteArray& array) {
    ToBytes(dValue, array);
}

char ByteArrayToChar(const CByteArray& array) {
    return FromBytes<char>(array);
}

short ByteArrayToShort(const CByteArray& array) {
    return FromBytes<short>(array);
}

LONG ByteArrayToLong(const CByteArray& array) {
    return FromBytes<LONG>(array);
}

float ByteArrayToFloat(const CByteArray& array) {
    return FromBytes<float>(array);
}

double ByteArrayToDouble(const CByteArray& array) {
    return FromBytes<double>(array);
}

int AssignObjects(CObject* pTo, CObject* pFrom) {
    if (pTo == nullptr || pFrom == nullptr || pTo->GetRuntimeClass() != pFrom->GetRuntimeClass()) {
        return 0;
    }
    if (pTo == pFrom) {
        return 1;
    }
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        pFrom->Serialize(ar);
    }
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    pTo->Serialize(ar);
    return 1;
}
