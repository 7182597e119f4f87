#include "ModbusProperties.h"

CModbusProperties::CModbusProperties(bool bWithHost)
    : CQZProperties("Modbus", "Modbus"), m_bWithHost(bWithHost) {}

CModbusProperties::CModbusProperties(const CModbusProperties& other)
    : CQZProperties(other),
      m_byNodeId(other.m_byNodeId),
      m_strHost(other.m_strHost),
      m_bWithHost(other.m_bWithHost) {}

CModbusProperties& CModbusProperties::operator=(const CModbusProperties& other) {
    CQZProperties::operator=(other);
    m_byNodeId = other.m_byNodeId;
    m_strHost = other.m_strHost;
    m_bWithHost = other.m_bWithHost;
    return *this;
}

CModbusProperties::~CModbusProperties() = default;

void CModbusProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        ar << m_byNodeId;
        if (m_bWithHost) {
            ar << m_strHost;
        }
        return;
    }
    // Loaded into a copy first, so a damaged archive leaves this record as
    // it was.
    CModbusProperties loaded(*this);
    loaded.SerializeHeader(ar);
    ar >> loaded.m_byNodeId;
    if (m_bWithHost) {
        ar >> loaded.m_strHost;
    }
    *this = loaded;
}

void CModbusProperties::DescribeFields(FieldList& fields) {
    // Node 0 is the broadcast address, which no device answers; 248 and up
    // are reserved.
    fields.push_back(IntegerField("NodeId", m_byNodeId, 1, 247));
    if (m_bWithHost) {
        fields.push_back(StringField("Host", m_strHost));
    }
}

CModbusSlaveProperties::CModbusSlaveProperties() : CQZProperties("Modbus", "Modbus") {}

void CModbusSlaveProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        ar << m_dwIdleTimeout << m_dwFrameTimeout;
        return;
    }
    CModbusSlaveProperties loaded(*this);
    loaded.SerializeHeader(ar);
    ar >> loaded.m_dwIdleTimeout >> loaded.m_dwFrameTimeout;
    *this = loaded;
}

void CModbusSlaveProperties::DescribeFields(FieldList& fields) {
    fields.push_back(IntegerField("IdleTimeout", m_dwIdleTimeout, 0, 0xFFFFFFFFLL));
    fields.push_back(IntegerField("FrameTimeout", m_dwFrameTimeout, 1, 3600000));
}
