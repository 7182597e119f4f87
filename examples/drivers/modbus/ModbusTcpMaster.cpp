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
//
// Bounds a host can rely on:
// - An attempt (waiting for the connection, sending, and reading the reply)
//   ends at Timing.Timeout, give or take a few milliseconds: the driver
//   waits for each piece of the reply only as long as the attempt has
//   left, and calls the port's read once data is there, so the port's own
//   one-second wait never runs out. A block with nothing back takes
//   Timeout x (RetryCount + 1).
// - A reply that is not complete by the deadline is no reply (2001). When
//   it comes later, during a retry or the next block, its transaction id
//   tells it apart and it is skipped.
// - While the device refuses connections (or is not there), a new connect
//   starts at most twice a second, however often blocks come; once it
//   listens again, the next block within half a second after is good.
//
// Unless the host names the port, its name is "<host>:<TCP port>".
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <kelvara/platform/Socket.h>

#include "ModbusMaster.h"
#include "ModbusPdu.h"
#include "ModbusProperties.h"

namespace {

using Clock = std::chrono::steady_clock;
// The least time between two connects the driver lets the port start while
// the device refuses.
constexpr auto kConnectInterval = std::chrono::milliseconds(500);

using modbus::MsUntil;

// The port, with the two waits the driver makes with its own time limit
// rather than the port's one second.
class CMasterPort : public CTCPIPPort {
public:
    using CTCPIPPort::CTCPIPPort;

    // Something to read (or the peer's close, or an error) within nMs: 1;
    // nothing: 0; no socket or the wait failed: -1.
    int WaitReadable(int nMs) const {
        const TCPIPSocket hSocket = m_Socket.load();
        return hSocket == TCPIP_INVALID_SOCKET ? -1 : kelvara::platform::WaitReadable(hSocket, nMs);
    }

    // How the connect under way ended within nMs: 1 connected, 0 failed
    // (or there is no socket to wait on), -1 still under way.
    int WaitForConnectOutcome(int nMs) const {
        const TCPIPSocket hSocket = m_Socket.load();
        if (hSocket == TCPIP_INVALID_SOCKET) {
            return 0;
        }
        if (kelvara::platform::WaitWritable(hSocket, nMs) == 1) {
            return 1;
        }
        // Not writable: a failed connect is readable (its error waits).
        return kelvara::platform::WaitReadable(hSocket, 0) == 0 ? -1 : 0;
    }
};

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
        const DWORD result = modbus::TransferBlock(
            *this, pBlock, m_Timing.m_dwRetryCount,
            [this](const modbus::Request& request, CByteArray& reply) {
                return Exchange(request, reply);
            },
            m_Work);
        CProtocol::TransferData(pBlock);
        return result;
    }

    DWORD ValidateRemoteAddress(CRemoteAddress* pAddress) override {
        return modbus::ValidateAddress(pAddress);
    }
    DWORD GetMaxBlockSize(CRemoteAddress* pAddress) override {
        return modbus::MaxBlockSize(pAddress);
    }

    // The host's name for the port, or where it connects to.
    CString GetPortName() override {
        CString strName = CProtocol::GetPortName();
        if (strName.IsEmpty()) {
            strName.Format("%s:%d", m_Modbus.m_strHost.GetString(),
                           static_cast<int>(m_TCPIP.m_nPortNumber));
        }
        return strName;
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
        CCombuf& frame = m_Frame;
        frame.SetSize(0);
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
            CCombuf& head = m_Head;
            result = ReadBefore(deadline, head, modbus::kMbapSize);
            if (result != SE_NO_ERROR) {
                return result;
            }
            modbus::MbapHeader header;
            modbus::ParseMbapHeader(head.GetData(), static_cast<std::size_t>(head.GetSize()),
                                    header);
            if (result = modbus::CheckMbapReplyHeader(header); result != SE_NO_ERROR) {
                return result;
            }
            CCombuf& pdu = m_Pdu;
            result = ReadBefore(deadline, pdu, static_cast<DWORD>(header.PduSize()));
            if (result != SE_NO_ERROR) {
                return result;
            }
            if (header.transactionId != m_wTransactionId) {
                // A late reply to an earlier attempt: ours may follow, but
                // only until the deadline, however many others come.
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
    // failure on its own; this waits for it to get there. Each time the
    // port is asked it restarts a refused connect, so after a failure it
    // is asked again only kConnectInterval after the last time.
    bool WaitForConnection(Clock::time_point deadline) {
        for (;;) {
            if (m_Port.IsConnected()) {
                return true;
            }
            const int nOutcome = m_Port.WaitForConnectOutcome(MsUntil(deadline));
            if (nOutcome == 1) {
                return m_Port.TestConnection() == 1;
            }
            if (nOutcome < 0) {
                return false;  // still connecting at the deadline
            }
            // Refused: wait for the next connect, or for the deadline.
            const auto next = std::max(Clock::now(), m_nextConnect);
            std::this_thread::sleep_until(std::min(next, deadline));
            if (next >= deadline) {
                return false;
            }
            m_nextConnect = next + kConnectInterval;
            if (m_Port.TestConnection() == 1) {
                return true;
            }
        }
    }

    // Reads nCount bytes, which may come in several TCP segments, by the
    // deadline. The port waits up to a second for data, so the driver
    // waits itself, no longer than the deadline, and calls the port's read
    // only once there is something for it. The port's read takes what one
    // receive brings and tells how much only through the bytes-in count.
    DWORD ReadBefore(Clock::time_point deadline, CCombuf& buffer, DWORD nCount) {
        CCommsStats* pStats = GetCommsStats();
        buffer.SetSize(0);
        for (;;) {
            // What is there only after the deadline came too late. MsUntil
            // rounds up, so 0 means the deadline has passed.
            const int nLeftMs = MsUntil(deadline);
            if (nLeftMs == 0 || m_Port.WaitReadable(nLeftMs) == 0) {
                return SE_TIMEOUT;
            }
            const DWORD dwHave = static_cast<DWORD>(buffer.GetSize());
            const DWORD dwWanted = nCount - dwHave;
            const DWORD before = pStats->GetTotalBytesIn();
            // Emptied first: the port sizes it, and a short read logs the
            // bytes that did not come as zeros, as from a new buffer.
            CCombuf& part = m_Part;
            part.SetSize(0);
            const DWORD result = m_Port.Read(&part, dwWanted, pStats);
            const DWORD dwGot = std::min(pStats->GetTotalBytesIn() - before, dwWanted);
            if (dwGot > 0) {
                buffer.SetSize(static_cast<int>(dwHave + dwGot));
                std::memcpy(buffer.GetData() + dwHave, part.GetData(), dwGot);
            }
            // A short read waits for the rest, until the deadline.
            if (result != SE_TIMEOUT || dwGot == 0) {
                return result;
            }
        }
    }

    CTCPIPProperties m_TCPIP;
    CTimingProperties m_Timing;
    CModbusProperties m_Modbus;
    CMasterPort m_Port;
    // Buffers kept from exchange to exchange, so that one costs no new
    // memory: the request frame, the reply's header and PDU, and what one
    // read of the port brings.
    modbus::BlockWork m_Work;
    CCombuf m_Frame;
    CCombuf m_Head;
    CCombuf m_Pdu;
    CCombuf m_Part;
    WORD m_wTransactionId = 0;
    // When the port may next be asked to restart a failed connect.
    Clock::time_point m_nextConnect{};
};

}  // namespace

KELVARA_EXPORT_DRIVER(CModbusTcpMaster, "Modbus TCP master")
