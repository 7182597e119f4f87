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
    // A line takes neither 0 baud nor other than 5 to 8 data bits.
    fields.push_back(IntegerField("BaudRate", m_dwBaudRate, 1, 0xFFFFFFFFLL));
    fields.push_back(BoolField("ParityEnabled", m_bParityEnabled));
    fields.push_back(EnumField("Parity", m_Parity, {PARITY_NONE, PARITY_EVEN, PARITY_ODD}));
    fields.push_back(IntegerField("DataBits", m_wDataBits, 5, 8));
    // 1 is how people write one stop bit; like 0, the port reads it as one.
    fields.push_back(EnumField("StopBits", m_StopBits,
                               {STOPBITS_ONE, static_cast<STOPBITS_ENUM>(1), STOPBITS_TWO}));
    fields.push_back(EnumField("Media", m_MediaType, {MEDIA_RS232, MEDIA_RS485, MEDIA_RS422}));
}
