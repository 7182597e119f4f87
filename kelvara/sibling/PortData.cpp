#include "kelvara/sibling/PortData.h"

IMPLEMENT_SERIAL(CPortData, CObject, 1)

CPortData::CPortData(const CPortData& other)
    : CObject(),
      m_PortProperties(other.m_PortProperties),
      m_TimingProperties(other.m_TimingProperties),
      m_FlowProperties(other.m_FlowProperties) {}

CPortData& CPortData::operator=(const CPortData& other) {
    m_PortProperties = other.m_PortProperties;
    m_TimingProperties = other.m_TimingProperties;
    m_FlowProperties = other.m_FlowProperties;
    return *this;
}

CPortData::~CPortData() = default;

void CPortData::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        m_PortProperties.Serialize(ar);
        m_TimingProperties.Serialize(ar);
        m_FlowProperties.Serialize(ar);
        return;
    }
    CPortData loaded(*this);
    loaded.m_PortProperties.Serialize(ar);
    loaded.m_TimingProperties.Serialize(ar);
    loaded.m_FlowProperties.Serialize(ar);
    *this = loaded;
}
