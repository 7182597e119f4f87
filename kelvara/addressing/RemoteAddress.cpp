#include "kelvara/addressing/RemoteAddress.h"

CRemoteAddress::CRemoteAddress(const char* pszAddress, const char* pszFormat,
                               const char* pszAttributes)
    : m_strAddress(pszAddress), m_Format(pszFormat, pszAttributes) {
    Validate();
}

CRemoteAddress::CRemoteAddress(const CRemoteAddress& other)
    : m_strAddress(other.m_strAddress), m_bAutoIncrement(other.m_bAutoIncrement) {
    m_Format = other.m_Format;
}

CRemoteAddress& CRemoteAddress::operator=(const CRemoteAddress& other) {
    if (this != &other) {
        m_strAddress = other.m_strAddress;
        m_Format = other.m_Format;
        m_bAutoIncrement = other.m_bAutoIncrement;
    }
    return *this;
}

void CRemoteAddress::SetAddress(CString strAddress) {
    m_strAddress = std::move(strAddress);
}

EDF_RET CRemoteAddress::Validate() {
    const auto steps = [](const CEDFField& field) { return field.m_bIncrement != FALSE; };
    if (!m_Format.m_bParsed) {
        // The check parses the format first: its fields exist only after it.
        const EDF_RET eResult = m_Format.Validate(m_strAddress);
        m_bAutoIncrement = m_Format.m_Fields.AnyOf(steps);
        return eResult;
    }
    // A check leaves the fields as they are, so the flag can come first and
    // the check last, where it costs no more than a jump.
    m_bAutoIncrement = m_Format.m_Fields.AnyOf(steps);
    return m_Format.Validate(m_strAddress);
}

EDF_RET CRemoteAddress::Field(const char* pszName, CString& strValue) const {
    return m_Format.Field(m_strAddress, pszName, strValue);
}

EDF_RET CRemoteAddress::Field(int nIndex, CString& strValue) const {
    return m_Format.Field(m_strAddress, nIndex, strValue);
}

EDF_RET CRemoteAddress::Field(int nIndex, int* pnKeyword) const {
    return m_Format.Field(m_strAddress, nIndex, pnKeyword);
}

void CRemoteAddress::Serialize(CArchive& ar) {
    m_Object.Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_Format.m_strFormat;
        ar << static_cast<LONG>(m_bAutoIncrement);
        m_Format.Serialize(ar);
        return;
    }
    // Read everything before changing the format, so that a short archive
    // leaves the old format whole.
    CString strFormat;
    LONG bAutoIncrement = FALSE;
    ar >> strFormat >> bAutoIncrement;
    m_Format.Serialize(ar);
    m_Format.m_strFormat = strFormat;
    m_bAutoIncrement = bAutoIncrement;
    m_Format.m_bParsed = FALSE;
    Validate();
}
