// A sample driver plug-in in the slave role: a simulated Modbus TCP device.
// Masters connect to it and read and write its register table (coils,
// discrete inputs, input registers, holding registers; see
// ModbusRegisterTable.h) with function codes 1 to 6, 15 and 16; anything
// else is refused with an exception reply.
//
// How a host drives it, all through the CProtocol interface:
// - TCP port: the "TCPIP.PortNumber" line (UpdateFromStringList) or the
//   TCP/IP record in SerializeProperties; default 502. Port 0 asks for any
//   free port: after StartProtocol, GetPortNumber tells which one.
// - Masters that hold the slave without being served are dropped (see
//   CModbusSlaveProperties): one that sends nothing for "Modbus.IdleTimeout"
//   ms (default 60000, 0 never), and one whose request stalls for longer
//   than "Modbus.FrameTimeout" ms from its first byte (default 1000), which
//   also counts as a time-out. The accepted connection has TCP keepalive on
//   (first probe after 10 s of silence, then every 5 s, 3 probes), so a
//   master that lost power is found in about 25 s even with no idle
//   time-out. The settings are read at StartProtocol.
// - StartProtocol listens on all local addresses and starts the thread that
//   answers the master; 1400 when the port cannot be listened on.
//   StopProtocol stops the thread, drops the master and stops listening; it
//   may wait for a request that is coming in, up to the frame time-out.
// - TransferData with a block reads or writes the table itself, at once and
//   without any traffic, started or not: that is how the host sets the
//   values a master will read and looks at what a master wrote. Addresses
//   and data are those of the Modbus master drivers (ModbusPdu.h), e.g. a
//   read of 10 points at "HR:0"; the host may also write the two input
//   areas, which masters can only read.
// - One master at a time, whatever unit id it sends (the reply echoes it).
//   Others wait to be accepted until it has gone; when it goes the port
//   listens afresh, and masters that were waiting must connect again. The
//   log library hears when a master comes and goes (level 2, "master
//   connected" / "master disconnected"); a master is served only once its
//   coming has been told, and one that StopProtocol drops is told as gone.
// - Statistics: every request answered counts as one block with its time,
//   as every block the host transfers does; an exception reply counts as a
//   device error with its text; a frame that breaks off counts as a
//   time-out, one with a bad header as error 2003. The comms log shows each
//   request and reply as one line.
// - Unless the host names the port, its name is "TCP port <n>".
#include <kelvara/Kelvara.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>

#include "ModbusMaster.h"
#include "ModbusPdu.h"
#include "ModbusProperties.h"
#include "ModbusRegisterTable.h"

namespace {

// Level of the log messages about masters coming and going.
constexpr DWORD kInfoLogLevel = 2;
// How long the serving thread waits for a master before it looks again
// whether it should stop; a master that connects wakes it at once.
constexpr auto kMasterWait = std::chrono::milliseconds(100);
// Port 0 picks a free port among these, above the range Linux hands out to
// outgoing connections, starting at a random one so that slaves started
// together do not all try the same ports.
constexpr int kFirstFreePort = 61000;
constexpr int kFreePortSpan = 65536 - kFirstFreePort;
constexpr int kFreePortTries = 200;
// Keepalive of the accepted connection: seconds of silence before the first
// probe, seconds between probes, probes unanswered before it is lost.
constexpr int kKeepAliveIdle = 10;
constexpr int kKeepAliveInterval = 5;
constexpr int kKeepAliveProbes = 3;

using Clock = std::chrono::steady_clock;

// The port, with a wait for the master's data that the slave times itself
// and the keepalive of the accepted connection.
class CSlavePort : public CTCPIPPort {
public:
    using CTCPIPPort::CTCPIPPort;

    // Something to read (or the master's close) within nMs: 1; nothing: 0;
    // no socket or the wait failed: -1.
    int WaitReadable(int nMs) const {
        const TCPIPSocket hSocket = m_Socket.load();
        return hSocket == TCPIP_INVALID_SOCKET ? -1 : kelvara::platform::WaitReadable(hSocket, nMs);
    }

    // A failure is logged with the system's reason; the master is served
    // all the same.
    void TurnOnKeepAlive() {
        const TCPIPSocket hSocket = m_Socket.load();
        if (hSocket != TCPIP_INVALID_SOCKET &&
            kelvara::platform::SetKeepAlive(hSocket, kKeepAliveIdle, kKeepAliveInterval,
                                            kKeepAliveProbes) !=
                kelvara::platform::ErrorCategory::None) {
            OutputSystemMessage();
        }
    }
};

class CModbusTcpSlave;

// Answers the master, one request per pass, until stopped.
class CServeThread : public CWinThreadPlus {
public:
    explicit CServeThread(CModbusTcpSlave& slave) : m_slave(slave) {}
    ~CServeThread() override { StopThread(); }

protected:
    void DoWork() override;

private:
    CModbusTcpSlave& m_slave;
};

class CModbusTcpSlave : public CProtocol {
public:
    CModbusTcpSlave() : CProtocol("", modbus::kRemoteFormat), m_ServeThread(*this) {
        m_eProtocolStyle = PROTOCOL_STYLE_SLAVE;
        m_TCPIPProperties.m_bUseTCPIP = 1;
        m_GeneralProperties.m_strVersion = GetVersionInfo();
        m_PropertySheet.AddPage(m_TCPIPProperties.GetPropertyPage());
    }

    ~CModbusTcpSlave() override {
        if (IsStarted()) {
            StopProtocol();
        }
    }

    CString GetVersionInfo() override { return "Modbus TCP slave 1.0"; }

    // The TCP port masters connect to: once started, the one listened on.
    WORD GetPortNumber() override {
        return static_cast<WORD>(IsStarted() ? m_ListenProperties.m_nPortNumber
                                             : m_TCPIPProperties.m_nPortNumber);
    }

    DWORD ValidateRemoteAddress(CRemoteAddress* pAddress) override {
        return modbus::ValidateAddress(pAddress);
    }

    void SerializeProperties(CArchive& ar) override {
        SerializeRecords(ar, {&m_GeneralProperties, &m_TCPIPProperties, &m_SlaveProperties});
    }
    bool DumpToStringList(CStringList& list) override {
        return m_TCPIPProperties.DumpToStringList(list) && m_SlaveProperties.DumpToStringList(list);
    }
    bool UpdateFromStringList(CStringList* pList) override {
        return UpdateRecordsFromStringList(pList, {&m_TCPIPProperties, &m_SlaveProperties});
    }

    // The host's name for the port, or "TCP port <n>".
    CString GetPortName() override {
        CString strName = CProtocol::GetPortName();
        if (strName.IsEmpty()) {
            strName.Format("TCP port %d", static_cast<int>(GetPortNumber()));
        }
        return strName;
    }

    DWORD StartProtocol() override {
        if (IsStarted()) {
            return CProtocol::StartProtocol();  // 2006
        }
        // The port reads its settings from a record of its own, so that the
        // port picked for "any" stays the same when the port listens again
        // after a master has gone, while the host's setting stays 0.
        m_ListenProperties = m_TCPIPProperties;
        m_idleTimeout = std::chrono::milliseconds(m_SlaveProperties.m_dwIdleTimeout);
        m_frameTimeout = std::chrono::milliseconds(m_SlaveProperties.m_dwFrameTimeout);
        {
            std::lock_guard<std::mutex> guard(m_WakeLock);
            m_bStopping = false;
            m_bHasMaster = false;
        }
        m_pPort = new CSlavePort(&m_ListenProperties, this);
        if (const DWORD dwResult = Listen(); dwResult != SE_NO_ERROR) {
            ClosePort();
            return dwResult;
        }
        m_ServeThread.StartThread(1);
        return CProtocol::StartProtocol();
    }

    DWORD StopProtocol() override {
        if (!IsStarted()) {
            return CProtocol::StopProtocol();  // 2007
        }
        {
            std::lock_guard<std::mutex> guard(m_WakeLock);
            m_bStopping = true;
        }
        m_Wake.notify_all();
        m_ServeThread.StopThread();
        // Closing the port drops the master without a word from the port.
        // Once the port has stopped listening no master can come meanwhile.
        m_pPort->StopListen();
        const bool bHadMaster = HasMaster();
        ClosePort();
        if (bHadMaster) {
            MasterDisconnected();
        }
        return CProtocol::StopProtocol();
    }

    // The host's access to the table (see the top of this file).
    DWORD TransferData(CComBlock* pBlock) override {
        if (pBlock == nullptr) {
            return SE_INVALID_BLOCK;
        }
        pBlock->RecycleBlockLeaveData();
        const DWORD dwResult = TransferLocal(*pBlock);
        if (dwResult != SE_NO_ERROR) {
            pBlock->SetStandardErrorCode(dwResult, GetCommsStats());
            pBlock->SetBlockBad();
        } else {
            pBlock->SetBlockGood();
        }
        pBlock->SetComTime(0);
        CProtocol::TransferData(pBlock);
        return dwResult;
    }

    // Called on the listening thread. The port is connected already, but
    // the master is served only from here on, so that the host hears of it
    // before anything it sends is answered.
    void MasterConnected() override {
        CString strText;
        strText.Format("Modbus TCP slave on port %d: master connected",
                       static_cast<int>(m_ListenProperties.m_nPortNumber));
        SendLogMessage(&strText, kInfoLogLevel);
        m_pPort->TurnOnKeepAlive();
        {
            std::lock_guard<std::mutex> guard(m_WakeLock);
            m_bHasMaster = true;
        }
        m_Wake.notify_all();
    }

    // Called on the serving thread, from the port, once it is listening
    // again; and by StopProtocol when it drops a master.
    void MasterDisconnected() override {
        {
            std::lock_guard<std::mutex> guard(m_WakeLock);
            m_bHasMaster = false;
        }
        CString strText;
        strText.Format("Modbus TCP slave on port %d: master disconnected",
                       static_cast<int>(m_ListenProperties.m_nPortNumber));
        SendLogMessage(&strText, kInfoLogLevel);
    }

    // One pass of the serving thread.
    void Serve() {
        if (!HasMaster()) {
            m_bServing = false;
            WaitForMaster();
            return;
        }
        const auto now = Clock::now();
        if (!m_bServing) {
            m_bServing = true;
            m_lastHeard = now;
        }
        // A slice at a time, so that a stop is seen soon.
        if (m_pPort->WaitReadable(static_cast<int>(kMasterWait.count())) == 0) {
            if (m_idleTimeout.count() > 0 && now - m_lastHeard >= m_idleTimeout) {
                DropMaster("sent nothing for %u ms", m_idleTimeout);
            }
            return;
        }
        m_lastHeard = now;
        CCombuf request;
        modbus::MbapHeader header;
        const DWORD dwRead = ReadRequest(request, header, now + m_frameTimeout);
        if (request.GetSize() == 0) {
            return;  // the master went away
        }
        const auto start = std::chrono::steady_clock::now();
        m_CommsStats.AddBytesIn(static_cast<DWORD>(request.GetSize()));
        m_CommsStats.AddToCommsLog(&request, true);
        m_Served.RecycleBlock();
        if (dwRead == SE_NO_ERROR) {
            Answer(request, header);
        } else {
            // A frame that broke off (2001, or the master went: 1400) or
            // has a bad header (2003). What is left of it would be read as
            // the start of the next one: throw it all away.
            m_pPort->Clear();
            m_Served.SetStandardErrorCode(dwRead, GetCommsStats());
        }
        m_lastHeard = Clock::now();
        m_Served.SetComTime(
            static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count()));
        CProtocol::TransferData(&m_Served);
        // A frame that stalled leaves no telling where the next one starts,
        // and its master holds the slave from the others.
        if (dwRead == SE_TIMEOUT) {
            DropMaster("stalled in a request for %u ms", m_frameTimeout);
        }
    }

private:
    DWORD Listen() {
        const int nConfigured = m_TCPIPProperties.m_nPortNumber & 0xFFFF;
        if (nConfigured != 0) {
            m_ListenProperties.m_nPortNumber = nConfigured;
            return m_pPort->StartListen();
        }
        // Any free port: the first one that can be listened on.
        const int nStart = static_cast<int>(std::random_device{}() % kFreePortSpan);
        for (int i = 0; i < kFreePortTries; ++i) {
            m_ListenProperties.m_nPortNumber = kFirstFreePort + (nStart + i) % kFreePortSpan;
            if (m_pPort->StartListen() == SE_NO_ERROR) {
                return SE_NO_ERROR;
            }
        }
        return SE_TCPIP_SOCKET_ERROR;
    }

    void ClosePort() {
        if (m_pPort == nullptr) {
            return;
        }
        m_pPort->StopListen();
        m_pPort->Close();
        delete m_pPort;
        m_pPort = nullptr;
    }

    DWORD TransferLocal(CComBlock& block) {
        modbus::Address address;
        if (modbus::DecodeAddress(block.GetFirstAddress()->GetAddress(), address) != EDF_OK) {
            return SE_INVALID_BLOCK;
        }
        if (block.GetReadOrWrite() == RW_WRITE) {
            CByteArray data;
            block.GetBlockData(data);
            return m_Table.Write(address, block.GetPointCount(), data);
        }
        CByteArray data;
        const DWORD dwResult = m_Table.Read(address, block.GetPointCount(), data);
        if (dwResult == SE_NO_ERROR) {
            block.SetBlockData(&data);
        }
        return dwResult;
    }

    void WaitForMaster() {
        std::unique_lock<std::mutex> lock(m_WakeLock);
        m_Wake.wait_for(lock, kMasterWait, [this] { return m_bStopping || m_bHasMaster; });
    }

    bool HasMaster() {
        std::lock_guard<std::mutex> guard(m_WakeLock);
        return m_bHasMaster;
    }

    // Reads count bytes in all into the frame. The port's Read takes what
    // one receive brings and reports a short read only as a time-out, so
    // each piece is counted in a statistics object of its own, which tells
    // how many bytes came. The frame is counted and logged as one, later.
    DWORD ReadExactly(CCombuf& frame, int nCount, Clock::time_point deadline) {
        while (frame.GetSize() < nCount) {
            if (m_pPort->WaitReadable(modbus::MsUntil(deadline)) == 0) {
                return SE_TIMEOUT;
            }
            CCombuf piece;
            CCommsStats counted;
            const DWORD dwResult =
                m_pPort->Read(&piece, static_cast<DWORD>(nCount - frame.GetSize()), &counted);
            piece.SetSize(static_cast<int>(counted.GetTotalBytesIn()));
            frame += piece;
            // Part of what is missing came: wait for the rest.
            if (dwResult == SE_TIMEOUT && piece.GetSize() > 0) {
                continue;
            }
            if (dwResult != SE_NO_ERROR) {
                return dwResult;
            }
        }
        return SE_NO_ERROR;
    }

    // One request: the MBAP header, then as many bytes as it announces.
    // An empty frame when nothing came.
    DWORD ReadRequest(CCombuf& frame, modbus::MbapHeader& header, Clock::time_point deadline) {
        if (const DWORD dwResult = ReadExactly(frame, modbus::kMbapSize, deadline);
            dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        modbus::ParseMbapHeader(frame.GetData(), static_cast<std::size_t>(frame.GetSize()), header);
        if (const DWORD dwResult = modbus::CheckMbapRequestHeader(header);
            dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        return ReadExactly(frame, modbus::kMbapSize + header.PduSize(), deadline);
    }

    // Ends the master's connection, as its loss would: the port listens
    // afresh and tells of the master's going.
    void DropMaster(const char* pszWhy, std::chrono::milliseconds after) {
        CString strWhy;
        strWhy.Format(pszWhy, static_cast<unsigned>(after.count()));
        CString strText;
        strText.Format("Modbus TCP slave on port %d: master %s, dropped",
                       static_cast<int>(m_ListenProperties.m_nPortNumber), strWhy.GetString());
        SendLogMessage(&strText, kInfoLogLevel);
        m_bServing = false;
        m_pPort->OnDisconnect();
    }

    void Answer(const CCombuf& request, const modbus::MbapHeader& header) {
        CByteArray pdu;
        m_Table.Answer(request.GetData() + modbus::kMbapSize,
                       static_cast<std::size_t>(header.PduSize()), pdu);
        CCombuf reply;
        modbus::AppendMbapHeader(reply, header.transactionId, header.unitId, pdu.GetSize());
        reply += pdu;
        m_pPort->Write(&reply, GetCommsStats());
        if ((pdu[0] & modbus::kExceptionBit) != 0) {
            CString strText = modbus::ExceptionText(pdu[1]);
            m_Served.SetDeviceError(pdu[1], &strText, GetCommsStats());
        }
    }

    CTCPIPProperties m_TCPIPProperties;   // the host's setting
    CTCPIPProperties m_ListenProperties;  // what the port listens on
    CModbusSlaveProperties m_SlaveProperties;
    CSlavePort* m_pPort = nullptr;
    modbus::RegisterTable m_Table;
    // The request being served, for its accounting; serving thread only.
    CComBlock m_Served;
    // Wake the serving thread when a master comes or the driver stops.
    std::mutex m_WakeLock;
    std::condition_variable m_Wake;
    bool m_bStopping = false;
    bool m_bHasMaster = false;
    // The time-outs in force, from StartProtocol; and, on the serving
    // thread, whether it serves a master and when it last heard from it.
    std::chrono::milliseconds m_idleTimeout{0};
    std::chrono::milliseconds m_frameTimeout{0};
    bool m_bServing = false;
    Clock::time_point m_lastHeard{};
    // Last, so that it is gone before anything it uses.
    CServeThread m_ServeThread;
};

void CServeThread::DoWork() {
    m_slave.Serve();
}

}  // namespace

KELVARA_EXPORT_DRIVER(CModbusTcpSlave, "Modbus TCP slave (simulated device)")
