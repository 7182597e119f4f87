#include "kelvara/sibling/TimingProperties.h"

IMPLEMENT_SERIAL(CTimingProperties, CQZProperties, 1)

CTimingProperties::CTimingProperties() : CQZProperties("Timing", "Timing") {}

CTimingProperties::CTimingProperties(const CTimingProperties& other) : CQZProperties(other) {
    CopyFields(other);
}

CTimingProperties& CTimingProperties::operator=(const CTimingProperties& other) {
    CQZProperties::operator=(other);
    CopyFields(other);
    return *this;
}

CTimingProperties::~CTimingProperties() = default;

void CTimingProperties::CopyFields(const CTimingProperties& other) {
    m_dwRetryCount = other.m_dwRetryCount;
    m_dwTimeout = other.m_dwTimeout;
    m_dwRequestMessageDelay = other.m_dwRequestMessageDelay;
}

void CTimingProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        ar << m_dwRetryCount << m_dwTimeout << m_dwRequestMessageDelay;
        return;
    }
    CTimingProperties loaded(*this);
    loaded.SerializeHeader(ar);
    ar >> loaded.m_dwRetryCount >> loaded.m_dwTimeout >> loaded.m_dwRequestMessageDelay;
    *this = loaded;
}

void CTimingProperties::DescribeFields(FieldList& fields) {
    fields.push_back(DwordField("RetryCount", m_dwRetryCount));
    fields.push_back(DwordField("Timeout", m_dwTimeout));
    fields.push_back(DwordField("RequestMessageDelay", m_dwRequestMessageDelay));
}
