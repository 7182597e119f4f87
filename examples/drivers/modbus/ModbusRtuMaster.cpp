// A Modbus RTU master: reads and writes coils, discrete inputs, input
// registers and holding registers of one device on a serial line.
//
// Settings, as string-list lines (or the archive records in this order):
//   Port.*    the serial port: port number, baud rate, parity, data and stop
//             bits (the library's port record);
//   Flow.*    flow control (the library's flow record);
//   Timing.*  Timeout (ms to wait for a reply), RetryCount (repeats after a
//             failed exchange), RequestMessageDelay (ms of line silence
//             before each request, for devices that need more than the
//             line's own idle time);
//   Modbus.NodeId  the device's node id, 1 to 247.
// Addresses: see modbus::kRemoteFormat, e.g. HR:0 for the first holding
// register. A block of one point is written with function 5 or 6, a longer
// one with 15 or 16.
#include <chrono>
#include <thread>

#include "ModbusMaster.h"
#include "ModbusPdu.h"
#include "ModbusProperties.h"

namespace {

class CModbusRtuMaster : public CSerialProtocol {
public:
    CModbusRtuMaster()
        : CSerialProtocol("", modbus::kRemoteFormat),
          m_Modbus(false),
          m_Port(&m_PortProperties, &m_FlowProperties, &m_TimingProperties, this) {
        SetPortDefaults(FALSE, 19200, CPortProperties::PARITY_NONE, CPortProperties::STOPBITS_ONE,
                        8, 1, CPortProperties::MEDIA_RS485);
        SetTimingDefaults(0, 2, 1000);
        m_GeneralProperties.m_strVersion = GetVersionInfo();
        m_PropertySheet.AddPage(m_Modbus.GetPropertyPage());
    }
    ~CModbusRtuMaster() override {
        if (IsStarted()) {
            StopProtocol();
        }
    }

    CString GetVersionInfo() override { return "Modbus RTU master 1.0"; }
    BOOL IsSerialProtocol() override { return 1; }

    DWORD StartProtocol() override {
        DWORD result = CSerialProtocol::StartProtocol();
        if (result != SE_NO_ERROR) {
            return result;
        }
        result = m_Port.Open();
        if (result == SE_NO_ERROR) {
            result = m_Port.Init();
        }
        if (result != SE_NO_ERROR) {
            m_Port.Close();
            CSerialProtocol::StopProtocol();
        }
        return result;
    }

    DWORD StopProtocol() override {
        const DWORD result = CSerialProtocol::StopProtocol();
        if (result == SE_NO_ERROR) {
            m_Port.Close();
        }
        return result;
    }

    DWORD TransferData(CComBlock* pBlock) override {
        const DWORD result =
            modbus::TransferBlock(*this, pBlock, GetRetryCount(),
                                  [this](const modbus::Request& request, CByteArray& reply) {
                                      return Exchange(request, reply);
                                  });
        CSerialProtocol::TransferData(pBlock);
        return result;
    }

    DWORD ValidateRemoteAddress(CRemoteAddress* pAddress) override {
        return modbus::ValidateAddress(pAddress);
    }
    DWORD GetMaxBlockSize(CRemoteAddress* pAddress) override {
        return modbus::MaxBlockSize(pAddress);
    }

    // The library's records, then the Modbus record; a load is all or nothing.
    void SerializeProperties(CArchive& ar) override {
        SerializeRecords(ar, {&m_GeneralProperties, &m_PortProperties, &m_FlowProperties,
                              &m_TimingProperties, &m_Modbus});
    }
    bool DumpToStringList(CStringList& list) override {
        return CSerialProtocol::DumpToStringList(list) && m_Modbus.DumpToStringList(list);
    }
    bool UpdateFromStringList(CStringList* pList) override {
        return UpdateRecordsFromStringList(
            pList, {&m_PortProperties, &m_FlowProperties, &m_TimingProperties, &m_Modbus});
    }

private:
    // One request and its reply on the line: [node][PDU][CRC low][CRC high].
    DWORD Exchange(const modbus::Request& request, CByteArray& reply) {
        CCommsStats* pStats = GetCommsStats();
        const BYTE node = m_Modbus.m_byNodeId;
        CCombuf frame;
        frame += node;
        frame += request.pdu;
        modbus::AppendCrc(frame);

        // What is still in the line is a reply that came too late for an
        // earlier request: it must not be taken for this one's.
        m_Port.Clear();
        if (GetRequestMessageDelay() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(GetRequestMessageDelay()));
        }
        DWORD result = m_Port.Write(&frame, pStats);
        if (result != SE_NO_ERROR) {
            return result;
        }

        // Every reply is at least five bytes. Its first three tell how long
        // it is: an exception reply ends two bytes later (its CRC), a read
        // reply carries its byte count, a write reply is eight bytes. So a
        // refusal is seen at once rather than after the time-out. The port
        // logs each read, so a reply shows as two RX lines.
        CCombuf head;
        result = m_Port.Read(&head, 3, pStats);
        if (result != SE_NO_ERROR) {
            return result;
        }
        DWORD rest = 0;
        if (head[1] == (request.function | modbus::kExceptionBit)) {
            rest = 2;
        } else if (head[1] != request.function) {
            return SE_INVALID_FORMAT;
        } else if (request.IsWrite()) {
            rest = 5;
        } else {
            rest = head[2] + 2u;
        }
        CCombuf tail;
        result = m_Port.Read(&tail, rest, pStats);
        if (result != SE_NO_ERROR) {
            return result;
        }
        CCombuf whole = head;
        whole += tail;
        if (!modbus::CrcMatches(whole)) {
            return SE_CHECKSUM_ERROR;
        }
        // A good frame from another node is not an answer to this request.
        if (whole[0] != node) {
            return SE_INVALID_FORMAT;
        }
        whole.GetDataSegment(&reply, 1, whole.GetSize() - 3);
        return SE_NO_ERROR;
    }

    CModbusProperties m_Modbus;
    CComPort m_Port;
};

}  // namespace

KELVARA_EXPORT_DRIVER(CModbusRtuMaster, "Modbus RTU master")
