/** \addtogroup sibling
 @{ */
/// CFlowProperties: flow control of a serial line. Lines:
/// "Flow.FlowControlEnabled" (0 or 1), "Flow.RTSControl", "Flow.DTRControl"
/// (the values of their enumerations), "Flow.RTSCTSDelay".
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/sibling/QZProperties.h"

class KELVARA_API CFlowProperties : public CQZProperties {
    DECLARE_SERIAL(CFlowProperties)

public:
    /// How RTS is driven.
    enum RTS_ENUM : LONG {
        RTS_DISABLE = 0,
        RTS_ENABLE = 1,
        RTS_HANDSHAKE = 2,
        RTS_TOGGLE = 3,
    };
    /// How DTR is driven.
    enum DTR_ENUM : LONG { DTR_DISABLE = 0, DTR_ENABLE = 1, DTR_HANDSHAKE = 2 };

    /// No flow control, RTS and DTR raised, no RTS/CTS delay.
    CFlowProperties();
    /// Copies other.
    CFlowProperties(const CFlowProperties& other);
    /// Copies other.
    CFlowProperties& operator=(const CFlowProperties& other);
    ~CFlowProperties() override;

    void Serialize(CArchive& ar) override;

    /// TRUE when flow control is on.
    BOOL m_bFlowControlEnabled = FALSE;
    /// How RTS is driven.
    RTS_ENUM m_RTSControl = RTS_ENABLE;
    /// How DTR is driven.
    DTR_ENUM m_DTRControl = DTR_ENABLE;
    /// Delay between RTS and CTS, in ms.
    DWORD m_dwRTSCTSDelay = 0;

protected:
    void DescribeFields(FieldList& fields) override;

private:
    void CopyFields(const CFlowProperties& other);
};
/** @} */
