/** \addtogroup sibling
 @{ */
/// CTimingProperties: retries and times of a serial exchange. Lines:
/// "Timing.RetryCount", "Timing.Timeout" (ms), "Timing.RequestMessageDelay".
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/sibling/QZProperties.h"

class KELVARA_API CTimingProperties : public CQZProperties {
    DECLARE_SERIAL(CTimingProperties)

public:
    /// Three retries, a time-out of 1000 ms, no request delay.
    CTimingProperties();
    /// Copies other.
    CTimingProperties(const CTimingProperties& other);
    /// Copies other.
    CTimingProperties& operator=(const CTimingProperties& other);
    ~CTimingProperties() override;

    void Serialize(CArchive& ar) override;

    /// Retries after the first try.
    DWORD m_dwRetryCount = 3;
    /// Reply time-out, in ms.
    DWORD m_dwTimeout = 1000;
    /// Delay before each request, in ms.
    DWORD m_dwRequestMessageDelay = 0;

protected:
    void DescribeFields(FieldList& fields) override;

private:
    void CopyFields(const CTimingProperties& other);
};
/** @} */
