#include "kelvara/sibling/PortProperties.h"

IMPLEMENT_SERIAL(CPortProperties, CQZProperties, 1)

CPortProperties::CPortProperties() : CQZProperties("Port", "Port") {}

CPortProperties::CPortProperties(const CPortProperties& other) : CQZProperties(other) {
    CopyFields(other);
}

CPortProperties& CPortProperties::operator=(const CPortProperties& other) {
    CQZProperties::operator=(other);
    CopyFields(other);
    return *this;
}

CPortProperties::~CPortProperties() = default;

void CPortProperties::CopyFields(const CPortProperties& other) {
    m_wPortNumber = other.m_wPortNumber;
    m_dwBaudRate = other.m_dwBaudRate;
    m_bParityEnabled = other.m_bParityEnabled;
    m_Parity = other.m_Parity;
    m_wDataBits = other.m_wDataBits;
    m_StopBits = other.m_StopBits;
    m_MediaType = other.m_MediaType;
}

void CPortProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        ar << m_wPortNumber << m_dwBaudRate << m_bParityEnabled << static_cast<LONG>(m_Parity)
           << m_wDataBits << static_cast<LONG>(m_StopBits) << static_cast<LONG>(m_MediaType);
        return;
    }
    CPortProperties loaded(*this);
    loaded.SerializeHeader(ar);
    LONG nParity = 0;
    LONG nStopBits = 0;
    LONG nMedia = 0;
    ar >> loaded.m_wPortNumber >> loaded.m_dwBaudRate >> loaded.m_bParityEnabled >> nParity >>
        loaded.m_wDataBits >> nStopBits >> nMedia;
    loaded.m_Parity = static_cast<PARITY_ENUM>(nParity);
    loaded.m_StopBits = static_cast<STOPBITS_ENUM>(nStopBits);
    loaded.m_MediaType = static_cast<MEDIA_ENUM>(nMedia);
    *this = loaded;
}

void CPortProperties::DescribeFields(FieldList& fields) {
    fields.push_back(WordField("PortNumber", m_wPortNumber));
    fields.push_back(DwordField("BaudRate", m_dwBaudRate));
    fields.push_back(LongField("ParityEnabled", m_bParityEnabled));
    fields.push_back(LongField("Parity", m_Parity));
    fields.push_back(WordField("DataBits", m_wDataBits));
    fields.push_back(LongField("StopBits", m_StopBits));
    fields.push_back(LongField("Media", m_MediaType));
}
