// CEDFRange: one entry of a field's list, either a numeric range or a keyword.
#pragma once

#include "kelvara/framework/String.h"
#include "kelvara/sibling/QZObject.h"

class CEDFRange : public CQZObject {
public:
    CEDFRange() : CQZObject(1) {}
    CEDFRange(const CString& strLow, const CString& strHigh)
        : CQZObject(1), m_strLow(strLow), m_strHigh(strHigh) {}
    CEDFRange(const CEDFRange&) = default;
    CEDFRange& operator=(const CEDFRange&) = default;
    ~CEDFRange() override = default;

    // Bounds stay text until an address is checked, so a list keeps exactly
    // what its format said (leading zeros, hexadecimal digits, signs).
    CString m_strLow;   // low bound, or the keyword
    CString m_strHigh;  // high bound; empty for a keyword
};
