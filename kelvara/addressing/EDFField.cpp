#include "kelvara/addressing/EDFField.h"

CEDFField::CEDFField(const CEDFField& other) : CQZObject(other) {
    *this = other;
}

CEDFField& CEDFField::operator=(const CEDFField& other) {
    if (this == &other) {
        return *this;
    }
    CQZObject::operator=(other);
    m_cType = other.m_cType;
    m_nWidth = other.m_nWidth;
    m_strName = other.m_strName;
    m_nRadix = other.m_nRadix;
    m_nIndex = other.m_nIndex;
    DeleteRanges();
    for (int i = 0; i < other.m_Ranges.GetSize(); ++i) {
        const CEDFRange* pRange = other.m_Ranges.GetAt(i);
        m_Ranges.Add(pRange ? new CEDFRange(*pRange) : nullptr);
    }
    m_bIncrement = other.m_bIncrement;
    m_nStep = other.m_nStep;
    m_bFree = other.m_bFree;
    m_bCaseSensitive = other.m_bCaseSensitive;
    m_nEncodedSize = other.m_nEncodedSize;
    m_bKindI = other.m_bKindI;
    return *this;
}

CEDFField::~CEDFField() {
    DeleteRanges();
}

void CEDFField::AddRange(const CString& strLow, const CString& strHigh) {
    m_Ranges.Add(new CEDFRange(strLow, strHigh));
}

void CEDFField::DeleteRanges() {
    for (int i = 0; i < m_Ranges.GetSize(); ++i) {
        delete m_Ranges.GetAt(i);
    }
    m_Ranges.RemoveAll();
}
