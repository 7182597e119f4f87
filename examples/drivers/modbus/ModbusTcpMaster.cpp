// A Modbus TCP master: reads and writes coils, discrete inputs, input
// registers and holding registers of one device (or one unit behind a
// gateway) over TCP.
//
// Settings, as string-list lines (or the archive records in this order,
// after the general record):
//   TCPIP.PortNumber  the device's TCP port (502 by default);
//   Timing.Timeout    ms to wait for a connection and for a reply;
//   Timing.RetryCount repeats after a failed exchange;
//   Modbus.NodeId     the unit id sent in every request (1 to 247);
//   Modbus.Host       the device's dotted IPv4 address. AddIPAddress sets
//                     it too.
// Addresses: see modbus::kRemoteFormat, e.g. HR:0 for the first holding
// register. A block of one point is written with function 5 or 6, a longer
// one with 15 or 16.
//
// The connection is the port's business: it connects when the driver
// starts and, after any failure, connects again by itself. The driver only
// waits (up to its time-out) for a connection to be there.
#include <algorithm>
#include <chrono>
#include <thread>

#include "ModbusMaster.h"
#include "ModbusPdu.h"
#include "ModbusProperties.h"

namespace {

using Clock = std::chrono::steady_clock;

class CModbusTcpMaster : public CProtocol {
public:
    CModbusTcpMaster()
        : CProtocol("", modbus::kRemoteFormat), m_Modbus(true), m_Port(&m_TCPIP, this) {
        m_TCPIP.m_nPortNumber = 502;
        m_TCPIP.m_bUseTCPIP = 1;
        m_Timing.m_dwRetryCount = 2;
        m_Timing.m_dwTimeout = 1000;
        m_GeneralProperties.m_strVersion = GetVersionInfo();
        m_PropertySheet.AddPage(m_TCPIP.GetPropertyPage());
        m_PropertySheet.AddPage(m_Timing.GetPropertyPage());
        m_PropertySheet.AddPage(m_Modbus.GetPropertyPage());
    }
    ~CModbusTcpMaster() override {
        if (IsStarted()) {
            StopProtocol();
        }
    }

    CString GetVersionInfo() override { return "Modbus TCP master 1.0"; }

    DWORD StartProtocol() override {
        DWORD result = CProtocol::StartProtocol();
        if (result != SE_NO_ERROR) {
            return result;
        }
        // Starts the connect; it completes in the background.
        result = m_Port.Open();
        if (result != SE_NO_ERROR) {
            CProtocol::StopProtocol();
        }
        return result;
    }

    DWORD StopProtocol() override {
        const DWORD result = CProtocol::StopProtocol();
        if (result == SE_NO_ERROR) {
            m_Port.Close();
        }
        return result;
    }

    DWORD TransferData(CComBlock* pBlock) override {
        const DWORD result =
            modbus::TransferBlock(*this, pBlock, m_Timing.m_dwRetryCount,
                                  [this](const modbus::Request& request, CByteArray& reply) {
                                      return Exchange(request, reply);
                                  });
        CProtocol::TransferData(pBlock);
        return result;
    }

    DWORD ValidateRemoteAddress(CRemoteAddress* pAddress) override {
        return modbus::ValidateAddress(pAddress);
    }
    DWORD GetMaxBlockSize(CRemoteAddress* pAddress) override {
        return modbus::MaxBlockSize(pAddress);
    }

    // Where the port connects to.
    void GetFirstIPAddress(CString& strAddress) override { strAddress = m_Modbus.m_strHost; }
    void AddIPAddress(const char* pszFirst, const char*) override {
        if (pszFirst != nullptr) {
            m_Modbus.m_strHost = pszFirst;
        }
    }

    void SerializeProperties(CArchive& ar) override {
        SerializeRecords(ar, {&m_GeneralProperties, &m_TCPIP, &m_Timing, &m_Modbus});
    }
    bool DumpToStringList(CStringList& list) override {
        return m_TCPIP.DumpToStringList(list) && m_Timing.DumpToStringList(list) &&
               m_Modbus.DumpToStringList(list);
    }
    bool UpdateFromStringList(CStringList* pList) override {
        return UpdateRecordsFromStringList(pList, {&m_TCPIP, &m_Timing, &m_Modbus});
    }

private:
    // One request and its reply: [MBAP header][PDU] each way.
    DWORD Exchange(const modbus::Request& request, CByteArray& reply) {
        CCommsStats* pStats = GetCommsStats();
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_Timing.m_dwTimeout);
        if (!WaitForConnection(deadline)) {
            return SE_TCPIP_NOT_CONNECTED;
        }
        // Clear drops a reply that came too late for an earlier request. It
        // also finds a connection the device has closed (a restart, say);
        // the port then connects again, and that new connection is waited
        // for.
        if (m_Port.Clear() != SE_NO_ERROR && !WaitForConnection(deadline)) {
            return SE_TCPIP_NOT_CONNECTED;
        }

        // A new transaction id for every attempt, so that a late reply to
        // an earlier attempt is told apart from the reply to this one.
        ++m_wTransactionId;
        CCombuf frame;
        modbus::AppendMbapHeader(frame, m_wTransactionId, m_Modbus.m_byNodeId,
                                 request.pdu.GetSize());
        frame += request.pdu;
        DWORD result = m_Port.Write(&frame, pStats);
        if (result != SE_NO_ERROR) {
            return result;
        }

        for (;;) {
            // The header tells how long the PDU after it is. The port logs
            // each read, so a reply shows as two RX lines.
            CCombuf head;
            result = ReadBefore(deadline, head, modbus::kMbapSize);
            if (result != SE_NO_ERROR) {
                return result;
            }
            modbus::MbapHeader header;
            modbus::ParseMbapHeader(head.GetData(), static_cast<std::size_t>(head.GetSize()),
                                    header);
            if (header.protocolId != 0 || header.PduSize() < 2 ||
                header.PduSize() > modbus::kMaxPduSize) {
                return SE_INVALID_FORMAT;
            }
            CCombuf pdu;
            result = ReadBefore(deadline, pdu, static_cast<DWORD>(header.PduSize()));
            if (result != SE_NO_ERROR) {
                return result;
            }
            if (header.transactionId != m_wTransactionId) {
                // A late reply to an earlier attempt: ours may follow, but
                // only until the time-out, however many others come.
                if (Clock::now() >= deadline) {
                    return SE_TIMEOUT;
                }
                continue;
            }
            if (header.unitId != m_Modbus.m_byNodeId) {
                return SE_INVALID_FORMAT;
            }
            reply = pdu;
            return SE_NO_ERROR;
        }
    }

    // The port answers at once while connecting, and reconnects after a
    // failure on its own; this waits for it to get there.
    bool WaitForConnection(Clock::time_point deadline) {
        while (!m_Port.IsConnected() && !m_Port.TestConnection()) {
            if (Clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // Reads nCount bytes, which may come in several TCP segments. The port
    // makes one receive per read and waits up to a second for it, so the
    // driver's time-out is checked between reads. A short read tells how
    // much it brought only through the bytes-in count; the rest is read
    // again until the deadline, when a frame still cut short is a time-out.
    DWORD ReadBefore(Clock::time_point deadline, CCombuf& buffer, DWORD nCount) {
        CCommsStats* pStats = GetCommsStats();
        buffer.SetSize(0);
        for (;;) {
            const DWORD dwWanted = nCount - static_cast<DWORD>(buffer.GetSize());
            const DWORD before = pStats->GetTotalBytesIn();
            CCombuf part;
            const DWORD result = m_Port.Read(&part, dwWanted, pStats);
            const DWORD dwGot = std::min(pStats->GetTotalBytesIn() - before, dwWanted);
            for (DWORD i = 0; i < dwGot; ++i) {
                buffer += part[static_cast<int>(i)];
            }
            if (result != SE_TIMEOUT || Clock::now() >= deadline) {
                return result;
            }
        }
    }

    CTCPIPProperties m_TCPIP;
    CTimingProperties m_Timing;
    CModbusProperties m_Modbus;
    CTCPIPPort m_Port;
    WORD m_wTransactionId = 0;
};

}  // namespace

KELVARA_EXPORT_DRIVER(CModbusTcpMaster, "Modbus TCP master")
