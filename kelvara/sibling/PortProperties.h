// CPortProperties: the settings of a serial line. Lines: "Port.PortNumber"
// (0 to 65535), "Port.BaudRate" (1 and up), "Port.ParityEnabled" (0 or 1),
// "Port.Parity", "Port.DataBits" (5 to 8), "Port.StopBits", "Port.Media"
// (the values of their enumerations; stop bits also 1, read as one stop bit
// like 0), each with a decimal value.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/sibling/QZProperties.h"

class KELVARA_API CPortProperties : public CQZProperties {
    DECLARE_SERIAL(CPortProperties)

public:
    enum PARITY_ENUM : LONG { PARITY_NONE = 0, PARITY_EVEN = 1, PARITY_ODD = 2 };
    enum STOPBITS_ENUM : LONG { STOPBITS_ONE = 0, STOPBITS_TWO = 2 };
    // Stored and returned only; the port does not act on it.
    enum MEDIA_ENUM : LONG { MEDIA_RS232 = 0, MEDIA_RS485 = 1, MEDIA_RS422 = 2 };

    // COM1, 9600 baud, 8 data bits, no parity, one stop bit, RS-232.
    CPortProperties();
    CPortProperties(const CPortProperties& other);
    CPortProperties& operator=(const CPortProperties& other);
    ~CPortProperties() override;

    void Serialize(CArchive& ar) override;

    WORD m_wPortNumber = 1;
    DWORD m_dwBaudRate = 9600;
    BOOL m_bParityEnabled = FALSE;
    PARITY_ENUM m_Parity = PARITY_NONE;
    WORD m_wDataBits = 8;
    STOPBITS_ENUM m_StopBits = STOPBITS_ONE;
    MEDIA_ENUM m_MediaType = MEDIA_RS232;

protected:
    void DescribeFields(FieldList& fields) override;

private:
    void CopyFields(const CPortProperties& other);
};
