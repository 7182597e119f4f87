#include "kelvara/sibling/TCPIPProperties.h"

IMPLEMENT_SERIAL(CTCPIPProperties, CQZProperties, 1)

CTCPIPProperties::CTCPIPProperties() : CQZProperties("TCPIP", "TCP/IP") {}

CTCPIPProperties::CTCPIPProperties(const CTCPIPProperties& other)
    : CQZProperties(other), m_nPortNumber(other.m_nPortNumber), m_bUseTCPIP(other.m_bUseTCPIP) {}

CTCPIPProperties& CTCPIPProperties::operator=(const CTCPIPProperties& other) {
    CQZProperties::operator=(other);
    m_nPortNumber = other.m_nPortNumber;
    m_bUseTCPIP = other.m_bUseTCPIP;
    return *this;
}

CTCPIPProperties::~CTCPIPProperties() = default;

void CTCPIPProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        ar << m_nPortNumber << m_bUseTCPIP;
        return;
    }
    CTCPIPProperties loaded(*this);
    loaded.SerializeHeader(ar);
    ar >> loaded.m_nPortNumber >> loaded.m_bUseTCPIP;
    *this = loaded;
}

void CTCPIPProperties::DescribeFields(FieldList& fields) {
    fields.push_back(IntegerField("PortNumber", m_nPortNumber, 0, 0xFFFF));
    fields.push_back(BoolField("UseTCPIP", m_bUseTCPIP));
}
