// CPortData: the host's older packed configuration record: a port, a timing
// and a flow record in that order. It holds the time-out in seconds, where
// the drivers keep milliseconds.
#pragma once

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/sibling/FlowProperties.h"
#include "kelvara/sibling/PortProperties.h"
#include "kelvara/sibling/TimingProperties.h"

class KELVARA_API CPortData : public CObject {
    DECLARE_SERIAL(CPortData)

public:
    CPortData() = default;
    CPortData(const CPortData& other);
    CPortData& operator=(const CPortData& other);
    ~CPortData() override;

    // The three records, one after another.
    void Serialize(CArchive& ar) override;

    CPortProperties m_PortProperties;
    CTimingProperties m_TimingProperties;
    CFlowProperties m_FlowProperties;
};
