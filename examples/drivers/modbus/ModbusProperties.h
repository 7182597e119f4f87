// CModbusProperties: the settings a Modbus master driver adds to the
// library's records. Lines:
//   "Modbus.NodeId"  the device's node (unit) id, 1 to 247; default 1.
//   "Modbus.Host"    TCP drivers only: the device's dotted IPv4 address;
//                    default 127.0.0.1.
// A serial driver's record has no Host line and stores no host.
#pragma once

#include <kelvara/Kelvara.h>

class CModbusProperties : public CQZProperties {
public:
    explicit CModbusProperties(bool bWithHost);
    CModbusProperties(const CModbusProperties& other);
    CModbusProperties& operator=(const CModbusProperties& other);
    ~CModbusProperties() override;

    void Serialize(CArchive& ar) override;

    BYTE m_byNodeId = 1;
    CString m_strHost = "127.0.0.1";

protected:
    void DescribeFields(FieldList& fields) override;

private:
    bool m_bWithHost;
};
