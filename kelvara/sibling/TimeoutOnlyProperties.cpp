#include "kelvara/sibling/TimeoutOnlyProperties.h"

IMPLEMENT_SERIAL(CTimeoutOnlyProperties, CQZProperties, 1)

CTimeoutOnlyProperties::CTimeoutOnlyProperties() : CQZProperties("TimeoutOnly", "Time-out") {}

CTimeoutOnlyProperties::CTimeoutOnlyProperties(const CTimeoutOnlyProperties& other)
    : CQZProperties(other), m_dwTimeout(other.m_dwTimeout) {}

CTimeoutOnlyProperties& CTimeoutOnlyProperties::operator=(const CTimeoutOnlyProperties& other) {
    CQZProperties::operator=(other);
    m_dwTimeout = other.m_dwTimeout;
    return *this;
}

CTimeoutOnlyProperties::~CTimeoutOnlyProperties() = default;

void CTimeoutOnlyProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        ar << m_dwTimeout;
        return;
    }
    CTimeoutOnlyProperties loaded(*this);
    loaded.SerializeHeader(ar);
    ar >> loaded.m_dwTimeout;
    *this = loaded;
}

void CTimeoutOnlyProperties::DescribeFields(FieldList& fields) {
    fields.push_back(DwordField("Timeout", m_dwTimeout));
}
