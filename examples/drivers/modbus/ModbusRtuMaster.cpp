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
// Timing changes apply from the next block on; port, flow and node changes
// at the next start.
//
// A line that fails (a USB adapter unplugged, say) is closed, and the
// driver reopens it by itself: at once, then at most once a second while
// the device is missing, each time a block comes. Blocks fail at once
// meanwhile (1107, or the failed reopen's 1100 or 1102), and the block
// after the device is back under the same name is good again. The log hears
// one system-error line per outage, the reason the first reopen failed; the
// later attempts are not logged.
//
// Unless the host names the port, its name is "COM<n>", so the log's
// system-error lines say which line they are about. Raising and dropping
// DTR is not logged as a failure on a device without modem lines (a
// pseudo-terminal, many USB adapters): there is no line to set there.
// Addresses: see modbus::kRemoteFormat, e.g. HR:0 for the first holding
// register. A block of one point is written with function 5 or 6, a longer
// one with 15 or 16.
#include <chrono>
#include <thread>

#include <kelvara/platform/SystemError.h>

#include "ModbusMaster.h"
#include "ModbusPdu.h"
#include "ModbusProperties.h"

namespace {

using Clock = std::chrono::steady_clock;
// The least time between two reopen attempts while the device is missing.
constexpr auto kReopenInterval = std::chrono::seconds(1);

// The serial port, with the driver's say in what the log hears of it.
class CRtuPort : public CComPort {
public:
    using CComPort::CComPort;

    // What the next failures of system calls may log.
    enum class Reporting {
        All,
        // All but a control line the device does not have: the port raises
        // DTR in Open and drops it in Close, which a device without modem
        // lines refuses as an unsupported call.
        AllButMissingLines,
        None,
    };
    void SetReporting(Reporting eReporting) { m_eReporting = eReporting; }

    void OutputSystemMessage() override {
        // Read before anything can replace the last error.
        const auto category = kelvara::platform::LastErrorCategory();
        if (m_eReporting == Reporting::None ||
            (m_eReporting == Reporting::AllButMissingLines &&
             category == kelvara::platform::ErrorCategory::NotSupported)) {
            return;
        }
        CComPort::OutputSystemMessage();
    }

private:
    Reporting m_eReporting = Reporting::All;
};

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
        result = OpenLine(CRtuPort::Reporting::AllButMissingLines);
        if (result != SE_NO_ERROR) {
            CSerialProtocol::StopProtocol();
        }
        m_bOutageReported = false;
        return result;
    }

    DWORD StopProtocol() override {
        const DWORD result = CSerialProtocol::StopProtocol();
        if (result == SE_NO_ERROR && m_bLineOpen) {
            CloseLine(CRtuPort::Reporting::AllButMissingLines);
        }
        return result;
    }

    // The host's name for the port, or "COM<n>".
    CString GetPortName() override {
        CString strName = CSerialProtocol::GetPortName();
        if (strName.IsEmpty()) {
            strName.Format("COM%d", static_cast<int>(m_PortProperties.m_wPortNumber));
        }
        return strName;
    }

    DWORD TransferData(CComBlock* pBlock) override {
        const DWORD result = modbus::TransferBlock(
            *this, pBlock, GetRetryCount(),
            [this](const modbus::Request& request, CByteArray& reply) {
                return Exchange(request, reply);
            },
            m_Work);
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
    // Open and Init; a line that opened but cannot be set up is closed
    // again. A failed Open needs no Close: the next Open, or the port's
    // destructor, releases what it may have held.
    DWORD OpenLine(CRtuPort::Reporting eReporting) {
        m_Port.SetReporting(eReporting);
        DWORD result = m_Port.Open();
        if (result == SE_NO_ERROR) {
            result = m_Port.Init();
            if (result != SE_NO_ERROR) {
                m_Port.Close();
            }
        }
        m_Port.SetReporting(CRtuPort::Reporting::All);
        m_bLineOpen = result == SE_NO_ERROR;
        return result;
    }

    void CloseLine(CRtuPort::Reporting eReporting) {
        m_Port.SetReporting(eReporting);
        m_Port.Close();
        m_Port.SetReporting(CRtuPort::Reporting::All);
        m_bLineOpen = false;
    }

    // After a line failure: the broken line is closed without a word (its
    // DTR and close fail too, for the same reason) and the next exchange
    // tries to reopen it at once.
    void LineFailed() {
        CloseLine(CRtuPort::Reporting::None);
        m_nextReopen = Clock::now();
    }

    // The line is closed: reopens it when the last attempt is long enough
    // ago. Only the first failed attempt of an outage is logged.
    DWORD Reopen() {
        const auto now = Clock::now();
        if (now < m_nextReopen) {
            return SE_COM_NOT_CONNECTED;
        }
        m_nextReopen = now + kReopenInterval;
        const DWORD result = OpenLine(m_bOutageReported ? CRtuPort::Reporting::None
                                                        : CRtuPort::Reporting::AllButMissingLines);
        m_bOutageReported = result != SE_NO_ERROR;
        return result;
    }

    DWORD Exchange(const modbus::Request& request, CByteArray& reply) {
        if (!m_bLineOpen) {
            if (const DWORD result = Reopen(); result != SE_NO_ERROR) {
                return result;
            }
        }
        const DWORD result = ExchangeOnLine(request, reply);
        if (result == SE_COM_WRITE_FAILED || result == SE_COM_READ_FAILED ||
            result == SE_COM_NOT_CONNECTED) {
            LineFailed();
        }
        return result;
    }

    // One request and its reply on the line: [node][PDU][CRC low][CRC high].
    DWORD ExchangeOnLine(const modbus::Request& request, CByteArray& reply) {
        CCommsStats* pStats = GetCommsStats();
        // Poll rather than Read: it sets the line's time-out from the
        // record when the host has changed it since the last block.
        const DWORD dwTimeout = GetTimeout();
        const BYTE node = m_Modbus.m_byNodeId;
        CCombuf& frame = m_Frame;
        frame.SetSize(0);
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

        // The head tells how long the reply is, so that a refusal is seen
        // at once rather than after the time-out. The port logs each read,
        // so a reply shows as two RX lines.
        // The read buffers are emptied first: the port sizes them, and a
        // short read logs the bytes that did not come as zeros, as from a
        // new buffer.
        CCombuf& head = m_Head;
        head.SetSize(0);
        result = m_Port.Poll(&head, 3, pStats, dwTimeout);
        if (result != SE_NO_ERROR) {
            return result;
        }
        DWORD rest = 0;
        if (result = modbus::RtuReplyRest(request, head.GetData(), rest); result != SE_NO_ERROR) {
            return result;
        }
        CCombuf& tail = m_Tail;
        tail.SetSize(0);
        result = m_Port.Poll(&tail, rest, pStats, dwTimeout);
        if (result != SE_NO_ERROR) {
            return result;
        }
        CCombuf& whole = m_Whole;
        whole.SetSize(0);
        whole += head;
        whole += tail;
        return modbus::UnwrapRtuReply(node, whole, reply);
    }

    CModbusProperties m_Modbus;
    CRtuPort m_Port;
    // Buffers kept from exchange to exchange, so that one costs no new
    // memory: the request frame, the reply's head and tail, and the two
    // together.
    modbus::BlockWork m_Work;
    CCombuf m_Frame;
    CCombuf m_Head;
    CCombuf m_Tail;
    CCombuf m_Whole;
    // Whether the port holds an open, set-up line; driver's thread only.
    bool m_bLineOpen = false;
    // While the line is closed after a failure: when the next reopen may
    // be tried, and whether this outage has been logged.
    Clock::time_point m_nextReopen{};
    bool m_bOutageReported = false;
};

}  // namespace

KELVARA_EXPORT_DRIVER(CModbusRtuMaster, "Modbus RTU master")
