#include "kelvara/sibling/FlowProperties.h"

IMPLEMENT_SERIAL(CFlowProperties, CQZProperties, 1)

CFlowProperties::CFlowProperties() : CQZProperties("Flow", "Flow Control") {}

CFlowProperties::CFlowProperties(const CFlowProperties& other) : CQZProperties(other) {
    CopyFields(other);
}

CFlowProperties& CFlowProperties::operator=(const CFlowProperties& other) {
    CQZProperties::operator=(other);
    CopyFields(other);
    return *this;
}

CFlowProperties::~CFlowProperties() = default;

void CFlowProperties::CopyFields(const CFlowProperties& other) {
    m_bFlowControlEnabled = other.m_bFlowControlEnabled;
    m_RTSControl = other.m_RTSControl;
    m_DTRControl = other.m_DTRControl;
    m_dwRTSCTSDelay = other.m_dwRTSCTSDelay;
}

void CFlowProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        ar << m_bFlowControlEnabled << static_cast<LONG>(m_RTSControl)
           << static_cast<LONG>(m_DTRControl) << m_dwRTSCTSDelay;
        return;
    }
    CFlowProperties loaded(*this);
    loaded.SerializeHeader(ar);
    LONG nRTS = 0;
    LONG nDTR = 0;
    ar >> loaded.m_bFlowControlEnabled >> nRTS >> nDTR >> loaded.m_dwRTSCTSDelay;
    loaded.m_RTSControl = static_cast<RTS_ENUM>(nRTS);
    loaded.m_DTRControl = static_cast<DTR_ENUM>(nDTR);
    *this = loaded;
}

void CFlowProperties::DescribeFields(FieldList& fields) {
    fields.push_back(BoolField("FlowControlEnabled", m_bFlowControlEnabled));
    fields.push_back(EnumField("RTSControl", m_RTSControl,
                               {RTS_DISABLE, RTS_ENABLE, RTS_HANDSHAKE, RTS_TOGGLE}));
    fields.push_back(
        EnumField("DTRControl", m_DTRControl, {DTR_DISABLE, DTR_ENABLE, DTR_HANDSHAKE}));
    fields.push_back(DwordField("RTSCTSDelay", m_dwRTSCTSDelay));
}
