/** \addtogroup sibling
 @{ */
/// CTimeoutOnlyProperties: the one setting of a network driver, its reply
/// time-out in milliseconds. Line: "TimeoutOnly.Timeout".
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/sibling/QZProperties.h"

class KELVARA_API CTimeoutOnlyProperties : public CQZProperties {
    DECLARE_SERIAL(CTimeoutOnlyProperties)

public:
    /// A time-out of 1000 ms.
    CTimeoutOnlyProperties();
    /// Copies other.
    CTimeoutOnlyProperties(const CTimeoutOnlyProperties& other);
    /// Copies other.
    CTimeoutOnlyProperties& operator=(const CTimeoutOnlyProperties& other);
    ~CTimeoutOnlyProperties() override;

    void Serialize(CArchive& ar) override;

    /// Reply time-out, in ms.
    DWORD m_dwTimeout = 1000;

protected:
    void DescribeFields(FieldList& fields) override;
};
/** @} */
