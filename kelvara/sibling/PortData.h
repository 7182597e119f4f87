/** \addtogroup sibling
 @{ */
/// CPortData: the host's older packed configuration record: a port, a timing
/// and a flow record in that order. It holds the time-out in seconds, where
/// the drivers keep milliseconds.
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
    /// Constructs with the defaults of the class.
    CPortData() = default;
    /// Copies other.
    CPortData(const CPortData& other);
    /// Copies other.
    CPortData& operator=(const CPortData& other);
    ~CPortData() override;

    /// The three records, one after another.
    void Serialize(CArchive& ar) override;

    /// The port record.
    CPortProperties m_PortProperties;
    /// The timing record (time-out in seconds).
    CTimingProperties m_TimingProperties;
    /// The flow record.
    CFlowProperties m_FlowProperties;
};
/** @} */
