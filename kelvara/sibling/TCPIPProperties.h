/** \addtogroup sibling
 @{ */
/// CTCPIPProperties: the TCP settings of a driver. Lines:
/// "TCPIP.PortNumber" (the low 16 bits of the field are the TCP port; a line
/// gives 0 to 65535), "TCPIP.UseTCPIP" (0 or 1).
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/sibling/QZProperties.h"

class KELVARA_API CTCPIPProperties : public CQZProperties {
    DECLARE_SERIAL(CTCPIPProperties)

public:
    /// TCP port 502, TCP/IP not selected.
    CTCPIPProperties();
    /// Copies other.
    CTCPIPProperties(const CTCPIPProperties& other);
    /// Copies other.
    CTCPIPProperties& operator=(const CTCPIPProperties& other);
    ~CTCPIPProperties() override;

    void Serialize(CArchive& ar) override;

    /// Nonzero when TCP/IP is selected.
    int UseTCPIP() const { return m_bUseTCPIP; }

    /// The TCP port in its low 16 bits.
    LONG m_nPortNumber = 502;
    /// Nonzero when TCP/IP is selected.
    LONG m_bUseTCPIP = 0;

protected:
    void DescribeFields(FieldList& fields) override;
};
/** @} */
