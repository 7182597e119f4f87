/** \addtogroup sibling
 @{ */
/// CGeneralProperties: the record every protocol has; it carries the driver's
/// version text. Lines: "General.Version=...".
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/sibling/QZProperties.h"

class KELVARA_API CGeneralProperties : public CQZProperties {
    DECLARE_SERIAL(CGeneralProperties)

public:
    /// Constructs with the defaults of the class.
    CGeneralProperties();
    /// Copies other.
    CGeneralProperties(const CGeneralProperties& other);
    /// Copies other.
    CGeneralProperties& operator=(const CGeneralProperties& other);
    ~CGeneralProperties() override;

    void Serialize(CArchive& ar) override;

    /// Set by the protocol from its GetVersionInfo.
    CString m_strVersion;

protected:
    void DescribeFields(FieldList& fields) override;
};
/** @} */
