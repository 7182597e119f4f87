// Format text, address text and attribute text from arbitrary bytes, split
// at the first two zero bytes. Every outcome must be a defined EDF_RET, and
// the operations must agree with each other: a valid address is rebuilt
// from its literals and field values, copies and re-parses answer as the
// original does, and an archive round trip keeps the format.
#include <kelvara/Kelvara.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/EDFReference.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool IsKnown(EDF_RET e) {
    switch (e) {
        case EDF_OK:
        case EDF_NO_KEYWORD_MATCH:
        case EDF_UNKNOWN_FIELD_NAME:
        case EDF_UNKNOWN_FIELD_INDEX:
        case EDF_NOT_A_NUMBER:
        case EDF_NOT_A_KEYWORD:
        case EDF_OUT_OF_RANGE:
        case EDF_TOO_SHORT:
        case EDF_EXTRA_CHARACTERS:
        case EDF_LITERAL_MISMATCH:
        case EDF_FAILED:
            return true;
    }
    return false;
}

std::string TakePart(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* start = p;
    while (p < end && *p != 0) {
        ++p;
    }
    std::string part(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
    if (p < end) {
        ++p;
    }
    return part;
}

// A valid address is exactly its literals and field values in layout order.
void CheckRebuild(const CEDFFormat& format, const char* pszAddress) {
    std::string rebuilt;
    const CString& layout = format.m_strLayout;
    int nField = 1;
    for (int i = 0; i < layout.GetLength(); ++i) {
        if (layout[i] == 'L') {
            rebuilt += layout[++i];
            continue;
        }
        CString value;
        Require(format.Field(pszAddress, nField, value) == EDF_OK);
        const CEDFField* pField = format.m_Fields.FindIndex(nField);
        CString byName;
        Require(format.Field(pszAddress, pField->m_strName, byName) == EDF_OK);
        Require(byName == value);
        rebuilt += value.str();
        ++nField;
    }
    Require(rebuilt == pszAddress);
}

using testsupport::ValidateByFields;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    const std::string strFormat = TakePart(p, end);
    const std::string strAddress = TakePart(p, end);
    const std::string strAttributes = TakePart(p, end);
    const char* pszAddress = strAddress.c_str();

    CEDFFormat format(strFormat.c_str(), strAttributes.c_str());
    const EDF_RET result = format.Validate(pszAddress);
    Require(IsKnown(result));
    Require(result == ValidateByFields(format, pszAddress));
    if (result == EDF_OK) {
        CheckRebuild(format, pszAddress);
    }

    CEDFFormat copy(format);
    Require(copy.Validate(pszAddress) == result);
    copy.m_bParsed = FALSE;
    Require(copy.Validate(pszAddress) == result);
    Require(copy.m_strLayout == format.m_strLayout);
    Require(copy.m_Fields.GetCount() == format.m_Fields.GetCount());

    CRemoteAddress address(pszAddress, strFormat.c_str(), strAttributes.c_str());
    Require(address.Validate() == result);
    CByteArray encoded;
    const EDF_RET encodeResult = address.Compress(encoded);
    Require(encodeResult == EDF_OK || encodeResult == EDF_FAILED);
    Require(encoded.GetSize() <= 4 * format.m_Fields.GetCount());

    CRemoteAddress next;
    const EDF_RET nextResult = address.GetNextAddress(next);
    Require(IsKnown(nextResult));
    Require(result != EDF_OK || nextResult == EDF_OK);
    if (nextResult == EDF_OK) {
        Require(IsKnown(next.Validate()));
        Require(next.IsAutoIncrementable() == address.IsAutoIncrementable());
    }

    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        address.Serialize(ar);
    }
    file.SeekToBegin();
    CRemoteAddress loaded;
    CArchive ar(&file, CArchive::load);
    loaded.Serialize(ar);
    Require(loaded.m_Format.m_strFormat == strFormat.c_str());
    Require(loaded.m_Format.m_strLayout == format.m_strLayout);
    Require(loaded.IsAutoIncrementable() == address.IsAutoIncrementable());
    return 0;
}
