/** \addtogroup sibling
 @{ */
/// CPortProperties: the settings of a serial line. Lines: "Port.PortNumber"
/// (0 to 65535), "Port.BaudRate" (1 and up), "Port.ParityEnabled" (0 or 1),
/// "Port.Parity", "Port.DataBits" (5 to 8), "Port.StopBits", "Port.Media"
/// (the values of their enumerations; stop bits also 1, read as one stop bit
/// like 0), each with a decimal value.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/sibling/QZProperties.h"

class KELVARA_API CPortProperties : public CQZProperties {
    DECLARE_SERIAL(CPortProperties)

public:
    /// Parity.
    enum PARITY_ENUM : LONG { PARITY_NONE = 0, PARITY_EVEN = 1, PARITY_ODD = 2 };
    /// Stop bits.
    enum STOPBITS_ENUM : LONG { STOPBITS_ONE = 0, STOPBITS_TWO = 2 };
    /// Stored and returned only; the port does not act on it.
    enum MEDIA_ENUM : LONG { MEDIA_RS232 = 0, MEDIA_RS485 = 1, MEDIA_RS422 = 2 };

    /// COM1, 9600 baud, 8 data bits, no parity, one stop bit, RS-232.
    CPortProperties();
    /// Copies other.
    CPortProperties(const CPortProperties& other);
    /// Copies other.
    CPortProperties& operator=(const CPortProperties& other);
    ~CPortProperties() override;

    void Serialize(CArchive& ar) override;

    /// The COM port number.
    WORD m_wPortNumber = 1;
    /// Baud rate.
    DWORD m_dwBaudRate = 9600;
    /// TRUE when parity is on.
    BOOL m_bParityEnabled = FALSE;
    /// Parity.
    PARITY_ENUM m_Parity = PARITY_NONE;
    /// Data bits.
    WORD m_wDataBits = 8;
    /// Stop bits.
    STOPBITS_ENUM m_StopBits = STOPBITS_ONE;
    /// The line's media.
    MEDIA_ENUM m_MediaType = MEDIA_RS232;

protected:
    void DescribeFields(FieldList& fields) override;

private:
    void CopyFields(const CPortProperties& other);
};
/** @} */
