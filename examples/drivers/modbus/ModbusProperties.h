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

// CModbusSlaveProperties: the Modbus TCP slave's own settings, which end
// the connection of a master that holds the slave without being served.
// Lines:
//   "Modbus.IdleTimeout"   ms a connected master may send nothing before
//                          it is dropped; 0 never drops it; default 60000.
//   "Modbus.FrameTimeout"  ms a request may take from its first byte to its
//                          last; a master whose frame stalls longer is
//                          dropped; 1 to 3600000, default 1000.
class CModbusSlaveProperties : public CQZProperties {
public:
    CModbusSlaveProperties();
    void Serialize(CArchive& ar) override;

    DWORD m_dwIdleTimeout = 60000;
    DWORD m_dwFrameTimeout = 1000;

protected:
    void DescribeFields(FieldList& fields) override;
};
