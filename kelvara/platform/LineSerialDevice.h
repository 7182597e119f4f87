/** \addtogroup platform
 @{ */
// A serial device made of a byte line: the device calls of SerialDevice.h
// done on a line that only moves bytes and holds the line's own settings, as
// a POSIX terminal does. The system's serial devices on POSIX are made this
// way, and so are the fake devices of tests (FakeSerialDevice.h); a driver
// author can put a line of his own under a port the same way.
//
// Where a terminal has no counterpart of a device setting, the device reads
// back what the line really runs:
// - bBinary: always on (the line is in raw mode).
// - bOutxDsrFlow: there is no DSR output flow control; it reads back off.
// - DTR handshake (DTR as input flow control) does not exist: the line
//   raises DTR, and reads back DTR enable.
// - RTS handshake and CTS output flow are one setting of the line: either
//   turns both on, and both read back on.
// - RTS toggle (RTS high only while sending) uses the line's RS-485 mode
//   where it has one; elsewhere the device raises RTS before each write and
//   drops it once the bytes have left.
// - One and a half stop bits exist only with 5 data bits (the line's two
//   stop bits); with more data bits they are two.
// - wXonLim and wXoffLim have no counterpart: they are kept as set.
// - bAbortOnError: after a receive error (frame, overrun, parity, break)
//   reads and writes fail (Aborted) until ClearError, where the line counts
//   such errors.
// - The event mask and the queue sizes are kept as set and change nothing
//   else.
// - Reads and writes are synchronous, so there is nothing to abort: the
//   purge abort flags only name what they would stop.
// - Reset (kFunctionResetDev) is accepted and does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kelvara/platform/SerialDevice.h"

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

/// What a line holds of its settings. The line is always in raw (binary)
/// mode: no echo, no line editing, no character translation.
struct LineAttributes {
    /// Baud rate.
    std::uint32_t dwBaudRate = 9600;
    std::uint8_t byDataBits = 8;  ///< 5 to 8
    /// Parity.
    LineParity parity = LineParity::None;
    bool bCheckParity = false;  ///< input parity checking
    /// Two stop bits instead of one.
    bool bTwoStopBits = false;
    bool bHardwareFlow = false;      ///< RTS/CTS in both directions
    bool bXonXoffOutput = false;     ///< XON/XOFF flow control of output.
    bool bXonXoffInput = false;      ///< XON/XOFF flow control of input.
    std::uint8_t byXonChar = 0x11;   ///< The XON character.
    std::uint8_t byXoffChar = 0x13;  ///< The XOFF character.
};

/// Modem control lines, for SetModemLines.
constexpr unsigned kLineRTS = 0x1u;  ///< Request to send.
constexpr unsigned kLineDTR = 0x2u;  ///< Data terminal ready.

/// Receive errors counted by the line since it was opened.
struct LineErrorCounts {
    /// Framing errors.
    std::uint32_t dwFrame = 0;
    std::uint32_t dwOverrun = 0;  ///< the UART's own
    /// Parity errors.
    std::uint32_t dwParity = 0;
    /// Breaks received.
    std::uint32_t dwBreak = 0;
    std::uint32_t dwBufferOverrun = 0;  ///< the driver's input buffer
};

/// How a wait of the line ended.
enum class WaitResult { Ready, TimedOut, Failed };

/// The line under the device. Every call that can fail returns false and
/// leaves the reason as the last system error; a line without a feature
/// (modem lines, RS-485 mode, error counters) fails those calls with
/// NotSupported or Invalid.
class KELVARA_API SerialLine {
public:
    virtual ~SerialLine() = default;

    ///@{
    /// Device state that a terminal has no place for (event mask, queue
    /// sizes, time-outs) is kept by the line itself, so reading it back gives
    /// what was set.
    virtual bool SetEventMask(std::uint32_t dwMask) = 0;
    virtual bool SetQueueSizes(std::uint32_t dwInput, std::uint32_t dwOutput) = 0;
    virtual bool GetTimeouts(CommTimeouts* pTimeouts) = 0;
    virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
    ///@}

    ///@{
    /// Read back from the line, so a setting the line dropped shows.
    virtual bool GetAttributes(LineAttributes* pAttributes) = 0;
    virtual bool SetAttributes(const LineAttributes& attributes) = 0;
    ///@}
    /// Raises or drops the given lines (kLineRTS, kLineDTR).
    virtual bool SetModemLines(unsigned nLines, bool bRaise) = 0;
    /// The RS-485 mode: RTS high while sending, low otherwise.
    virtual bool GetRs485(bool* pEnabled) = 0;
    /// Switches RS-485 mode.
    virtual bool SetRs485(bool bEnable) = 0;
    /// Sends a break while bOn.
    virtual bool SetBreak(bool bOn) = 0;
    /// Holds or releases output, as if XOFF or XON had been received.
    virtual bool SuspendOutput(bool bSuspend) = 0;
    /// Discards pending input, output or both.
    virtual bool Flush(bool bInput, bool bOutput) = 0;
    /// The receive errors counted.
    virtual bool GetErrorCounts(LineErrorCounts* pCounts) = 0;

    ///@{
    /// Never block: take or give what the line has room for now (possibly
    /// 0 bytes). A line whose device has gone away fails.
    virtual bool ReadSome(void* pData, std::size_t nSize, std::size_t* pRead) = 0;
    virtual bool WriteSome(const void* pData, std::size_t nSize, std::size_t* pWritten) = 0;
    ///@}
    ///@{
    /// Wait up to nTimeoutMs (at least 0) for input, or for room for output.
    /// A device that has gone away is Ready, so the next read or write sees it.
    virtual WaitResult WaitReadable(int nTimeoutMs) = 0;
    virtual WaitResult WaitWritable(int nTimeoutMs) = 0;
    ///@}
    /// Waits up to nTimeoutMs until every byte written has left the line.
    virtual WaitResult Drain(int nTimeoutMs) = 0;

    /// Releases the line even when it reports a failure.
    virtual bool Close() = 0;
};

/// The serial device on top of a serial line.
class KELVARA_API LineSerialDevice final : public SerialDevice {
public:
    /// A device that owns and drives pLine.
    explicit LineSerialDevice(std::unique_ptr<SerialLine> pLine);
    ~LineSerialDevice() override;
    LineSerialDevice(const LineSerialDevice&) = delete;
    LineSerialDevice& operator=(const LineSerialDevice&) = delete;

    ///@{
    /// As the SerialDevice calls, on the line.
    bool SetEventMask(std::uint32_t dwMask) override;
    bool SetQueueSizes(std::uint32_t dwInput, std::uint32_t dwOutput) override;
    bool GetSettings(CommSettings* pSettings) override;
    bool SetSettings(const CommSettings& settings) override;
    bool GetTimeouts(CommTimeouts* pTimeouts) override;
    bool SetTimeouts(const CommTimeouts& timeouts) override;
    ///@}
    bool Purge(std::uint32_t dwFlags) override;
    bool ClearError(std::uint32_t* pErrors) override;
    bool Read(void* pData, std::uint32_t dwCount, std::uint32_t* pRead) override;
    bool Write(const void* pData, std::uint32_t dwCount, std::uint32_t* pWritten) override;
    bool ExtendedFunction(std::uint32_t dwFunction) override;
    bool Close() override;

private:
    bool Usable();
    bool ApplyDtrControl(DtrControl control);
    bool ApplyRtsControl(RtsControl control);
    RtsControl RtsControlInForce(const LineAttributes& attributes);
    bool LineErrorPending();
    bool WriteAll(const std::uint8_t* p, std::uint32_t dwCount, std::uint32_t* pWritten);

    std::unique_ptr<SerialLine> m_pLine;
    // What the settings record holds that the line has no place for.
    DtrControl m_dtrControl = DtrControl::Enable;
    RtsControl m_rtsControl = RtsControl::Enable;
    bool m_bAbortOnError = false;
    std::uint16_t m_wXonLim = 0;
    std::uint16_t m_wXoffLim = 0;
    // RTS toggle without the line's RS-485 mode: RTS is raised around each
    // write here.
    bool m_bToggleRtsOnWrite = false;
    bool m_bLineRs485 = false;
    // Error counts at the last ClearError; the line may not count at all.
    bool m_bErrorCounts = true;
    LineErrorCounts m_lastErrors;
};

}  // namespace kelvara::platform
/** @} */
