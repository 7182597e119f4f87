/** \addtogroup transport_serial
 @{ */
// CComPort: one serial line (COM port), read and written in communication
// buffers, with the traffic counted and logged in the driver's statistics.
//
// The port reads its settings from the driver's port, flow and timing
// records whenever an operation needs them, so a changed record takes effect
// at the next Open, Init, Hangup or ConfirmPortSettings. A driver calls, in
// order: Open, Init, then per exchange Clear (optional), Write, Read or Poll,
// Hangup where RTS should drop between exchanges, and finally Close before
// it destroys the port.
//
// "\\.\COM<n>" stands for the device that MapDevice gave port n; by default
// the system's n-th serial port (/dev/ttyS<n-1> on Linux); port 0 has none.
//
// The line settings are those of the system the port was designed on, made
// with the terminal interface; where Linux has no counterpart:
// - the event mask and the driver queue sizes (400 in, 4096 out) are kept by
//   the port and change nothing;
// - RTS handshake and CTS output flow control are one setting (RTS/CTS);
//   either turns on both, and ConfirmPortSettings reports the other as
//   changed when the records ask for only one;
// - DTR handshake does not exist: DTR stays raised, and ConfirmPortSettings
//   reports "DTR control setting has changed from handshake to enable";
// - RTS toggle (RS-485 direction control) uses the kernel's RS-485 mode
//   where the device has one, else raises RTS around each write;
// - a device without modem lines (a pseudo-terminal, some USB adapters)
//   takes the line settings without the RTS and DTR levels, and the control
//   line functions fail on it with the system's reason.
// A read time-out of 0 in the timing record means no time-out, as on the
// original system: the read waits until all its bytes have come or the line
// fails.
//
// A null record pointer makes a port that cannot do what needs the record,
// and says so without logging a system reason (no system call failed):
// - without the port record, Open gives 1100 (and the port number is 0);
// - without the port or flow record, Init gives 1102 and changes nothing;
//   without the timing record it leaves the time-outs as they are and goes
//   on;
// - without the flow record, Hangup has no flow control to undo;
// - without any of the three, ConfirmPortSettings confirms nothing: 0, and
//   no message is shown.
#pragma once

#include <memory>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/transport/ComObject.h"

class CCombuf;
class CCommsStats;
class CFlowProperties;
class CPortProperties;
class CProtocol;
class CTimingProperties;

namespace kelvara::platform {
class SerialDevice;
}

///@{
/// Control line functions of GetControlLineState (the system's codes).
constexpr DWORD COMPORT_SET_RTS = 3;
constexpr DWORD COMPORT_CLEAR_RTS = 4;  ///< Lowers RTS.
constexpr DWORD COMPORT_SET_DTR = 5;    ///< Raises DTR.
constexpr DWORD COMPORT_CLEAR_DTR = 6;  ///< Lowers DTR.
///@}

/// The longest read the port takes: a larger count is refused with 1106
/// before any memory is reserved for it.
constexpr DWORD COMPORT_MAX_READ_COUNT = 64u * 1024u * 1024u;

/// The serial port of a serial driver.
class KELVARA_API CComPort : public CComObject {
public:
    /// The records and the driver are not owned; the port number is the port
    /// record's at this moment.
    CComPort(const CPortProperties* pPortProperties, const CFlowProperties* pFlowProperties,
             const CTimingProperties* pTimingProperties, CProtocol* pProtocol);
    /// Does not close the line: call Close first. A device still open is only
    /// released, without the closing steps.
    ~CComPort() override;

    void AssertValid() const override;

    /// 1100 on failure. An Open on a port that is already open releases the
    /// device first.
    DWORD Open() override;
    /// 1102 on failure.
    DWORD Init();
    /// Reads exactly dwCount bytes or what came before the read time-out of
    /// the timing record: 2001 when fewer came, 1106 when the line failed,
    /// 1107 when the port is not open. *pBuffer keeps dwCount bytes.
    DWORD Read(CCombuf* pBuffer, DWORD dwCount, CCommsStats* pStats);
    /// 1105 when the line failed, 1107 when the port is not open; a write that
    /// ran out of its 1000 ms succeeds with the bytes that went.
    DWORD Write(CCombuf* pBuffer, CCommsStats* pStats);
    /// Read with a time-out of dwTimeout ms, which stays in force for later
    /// reads.
    DWORD Poll(CCombuf* pBuffer, DWORD dwCount, CCommsStats* pStats, DWORD dwTimeout);
    /// Discards pending input and output; always 0.
    DWORD Clear();
    /// As Clear, then drops RTS when flow control is on; 1103 on failure.
    DWORD Hangup();
    /// Despite its name, sets a control line: COMPORT_SET_RTS and the other
    /// codes above; 1104 on failure.
    DWORD GetControlLineState(DWORD dwFunction);
    /// 1101 on failure.
    DWORD Close() override;
    /// Compares the settings the open line runs with the records, showing
    /// each difference in a message box; 1 when all agreed, else 0.
    BOOL ConfirmPortSettings();

    /// The device path the port opens.
    const CString& GetDevicePath() const { return m_strDevicePath; }

    /// Makes port wPortNumber ("\\.\COM<n>") stand for the device at
    /// pszDevice; an empty text leaves the port without a device, a null one
    /// restores the default.
    static void MapDevice(WORD wPortNumber, const char* pszDevice);
    /// The device of a port number; empty when it has none.
    static CString GetMappedDevice(WORD wPortNumber);

private:
    // A driver calls the port's own Read and Write, with statistics: the
    // base's, without them, are private here so that such a call does not
    // compile (through a CComObject pointer they still answer 1000).
    using CComObject::Read;
    using CComObject::Write;

    bool SetInitialTimeouts();
    // Whether a device is open; if not, the last system error says so.
    bool HasDevice() const;
    bool ApplyLineSettings();
    void PurgeBothDirections();
    DWORD ReadResult(bool bReadOk, DWORD dwRead, DWORD dwCount) const;
    void SetPollTimeout(DWORD dwTimeout);

    std::unique_ptr<kelvara::platform::SerialDevice> m_hComm;
    CString m_strDevicePath;
    const CPortProperties* m_pPortProperties;
    const CFlowProperties* m_pFlowProperties;
    const CTimingProperties* m_pTimingProperties;
};
/** @} */
