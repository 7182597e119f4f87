/** \addtogroup platform
 @{ */
// The serial device: an open COM device with the serial communication calls
// of the system the port was designed on (line settings record, time-out
// record, event mask, queue sizes, purge, line errors, synchronous read and
// write, the extended functions that set or clear the control lines), and
// the table that says which device a COM port number stands for.
//
// Each system has its own implementation (on POSIX a terminal device, see
// LineSerialDevice.h for what differs there); tests open fake devices
// instead (FakeSerialDevice.h). Every call that can fail returns false and
// leaves the reason as the last system error (SystemError.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

/// Parity of each character.
enum class LineParity : std::uint8_t { None, Odd, Even, Mark, Space };
/// Stop bits of each character.
enum class CommStopBits : std::uint8_t { One, OneAndHalf, Two };
/// What drives DTR: off, on while open, or input flow control.
enum class DtrControl : std::uint8_t { Disable, Enable, Handshake };
/// What drives RTS: as DTR, or raised only while sending (Toggle).
enum class RtsControl : std::uint8_t { Disable, Enable, Handshake, Toggle };

/// The line settings record. Read back, each field says what the line really
/// runs; a device that cannot run a setting reads back what it does run.
struct CommSettings {
    /// Baud rate.
    std::uint32_t dwBaudRate = 9600;
    /// Binary mode; always true.
    bool bBinary = true;
    bool bParity = false;  ///< parity checking
    ///@{
    /// Output waits for CTS or DSR.
    bool bOutxCtsFlow = false;
    bool bOutxDsrFlow = false;
    ///@}
    /// How DTR is driven.
    DtrControl dtrControl = DtrControl::Enable;
    /// How RTS is driven.
    RtsControl rtsControl = RtsControl::Enable;
    ///@{
    /// XON/XOFF flow control of output and of input.
    bool bOutX = false;
    bool bInX = false;
    ///@}
    /// Reads and writes stop at a line error until it is cleared.
    bool bAbortOnError = false;
    ///@{
    /// Input queue thresholds of XON and XOFF.
    std::uint16_t wXonLim = 0;
    std::uint16_t wXoffLim = 0;
    ///@}
    /// Data bits.
    std::uint8_t byByteSize = 8;
    /// Parity.
    LineParity parity = LineParity::None;
    /// Stop bits.
    CommStopBits stopBits = CommStopBits::One;
    ///@{
    /// The XON and XOFF characters.
    std::uint8_t byXonChar = 0x11;
    std::uint8_t byXoffChar = 0x13;
    ///@}
};

/// The time-out record, in milliseconds. A read returns when all bytes have
/// come, when dwReadTotalMultiplier * bytes + dwReadTotalConstant has passed,
/// or when dwReadInterval passes between two bytes; a 0 there means "no
/// limit" (all three 0: the read waits for all its bytes). An interval of
/// 0xFFFFFFFF with both totals 0 returns at once with what is there. A write
/// returns when all bytes have gone or dwWriteTotalMultiplier * bytes +
/// dwWriteTotalConstant has passed (both 0: no limit). A total longer than
/// the clock can count (about 292 years) is no limit either. Running out of
/// time is not a failure: the call succeeds with the bytes that moved.
struct CommTimeouts {
    /// Longest gap between two received bytes.
    std::uint32_t dwReadInterval = 0;
    ///@{
    /// Read time-out: the multiplier per byte and the constant.
    std::uint32_t dwReadTotalMultiplier = 0;
    std::uint32_t dwReadTotalConstant = 0;
    ///@}
    ///@{
    /// Write time-out: the multiplier per byte and the constant.
    std::uint32_t dwWriteTotalMultiplier = 0;
    std::uint32_t dwWriteTotalConstant = 0;
    ///@}
};

/// The event mask bit of a received character.
constexpr std::uint32_t kEventRxChar = 0x0001u;

/// Purge flags.
constexpr std::uint32_t kPurgeTxAbort = 0x0001u;  ///< Ends writes under way.
constexpr std::uint32_t kPurgeRxAbort = 0x0002u;  ///< Ends reads under way.
constexpr std::uint32_t kPurgeTxClear = 0x0004u;  ///< Drops the output queue.
constexpr std::uint32_t kPurgeRxClear = 0x0008u;  ///< Drops the input queue.

/// Line error flags of ClearError.
constexpr std::uint32_t kErrorRxOver = 0x0001u;    ///< The input queue overflowed.
constexpr std::uint32_t kErrorOverrun = 0x0002u;   ///< A character was lost in the UART.
constexpr std::uint32_t kErrorRxParity = 0x0004u;  ///< A parity error.
constexpr std::uint32_t kErrorFrame = 0x0008u;     ///< A framing error.
constexpr std::uint32_t kErrorBreak = 0x0010u;     ///< A break was received.

/// Extended functions, with the system's codes.
constexpr std::uint32_t kFunctionSetXoff = 1;   ///< Acts as if XOFF was received.
constexpr std::uint32_t kFunctionSetXon = 2;    ///< Acts as if XON was received.
constexpr std::uint32_t kFunctionSetRts = 3;    ///< Raises RTS.
constexpr std::uint32_t kFunctionClrRts = 4;    ///< Drops RTS.
constexpr std::uint32_t kFunctionSetDtr = 5;    ///< Raises DTR.
constexpr std::uint32_t kFunctionClrDtr = 6;    ///< Drops DTR.
constexpr std::uint32_t kFunctionResetDev = 7;  ///< Resets the device.
constexpr std::uint32_t kFunctionSetBreak = 8;  ///< Starts a break.
constexpr std::uint32_t kFunctionClrBreak = 9;  ///< Ends a break.

/// An open serial device; see the file's description.
class KELVARA_API SerialDevice {
public:
    virtual ~SerialDevice() = default;

    /// The events WaitEvent reports.
    virtual bool SetEventMask(std::uint32_t dwMask) = 0;
    /// The queue sizes the port asks for.
    virtual bool SetQueueSizes(std::uint32_t dwInput, std::uint32_t dwOutput) = 0;

    ///@{
    /// The line settings record.
    virtual bool GetSettings(CommSettings* pSettings) = 0;
    virtual bool SetSettings(const CommSettings& settings) = 0;
    ///@}
    ///@{
    /// The time-out record.
    virtual bool GetTimeouts(CommTimeouts* pTimeouts) = 0;
    virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
    ///@}

    /// The abort flags stop reads and writes under way, the clear flags empty
    /// the queues.
    virtual bool Purge(std::uint32_t dwFlags) = 0;
    /// The receive errors since the last call, as kError... flags; clears the
    /// abort state of bAbortOnError.
    virtual bool ClearError(std::uint32_t* pErrors) = 0;

    ///@{
    /// Synchronous, under the time-outs: *pRead and *pWritten hold the bytes
    /// that moved, also when the call fails. Running out of time is not a
    /// failure; with bAbortOnError, a receive error fails both (Aborted)
    /// until ClearError.
    virtual bool Read(void* pData, std::uint32_t dwCount, std::uint32_t* pRead) = 0;
    virtual bool Write(const void* pData, std::uint32_t dwCount, std::uint32_t* pWritten) = 0;
    ///@}

    /// One of the kFunction... codes; any other fails (Invalid).
    virtual bool ExtendedFunction(std::uint32_t dwFunction) = 0;

    /// Releases the device even when it reports a failure; every later call
    /// fails (BadHandle).
    virtual bool Close() = 0;
};

/// Opens a device by its path (not "\\.\COM<n>": see OpenSerialDevice) for
/// exclusive use: a device that another open one holds fails (Busy). Null on
/// failure.
using SerialDeviceOpener =
    std::function<std::unique_ptr<SerialDevice>(const std::string& strDevice)>;

/// The system's serial devices.
KELVARA_API std::unique_ptr<SerialDevice> OpenSystemSerialDevice(const std::string& strDevice);
/// Replaces the opener for every later OpenSerialDevice (tests install
/// fakes); an empty opener restores the system's.
KELVARA_API void SetSerialDeviceOpener(SerialDeviceOpener opener);

/// Opens "\\.\COM<n>" as the device mapped to port n; any other text is taken
/// as a device path. A port without a device fails (NoDevice).
KELVARA_API std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& strPath);

/// The device of a COM port number. By default COM<n> is the system's n-th
/// serial port (on Linux /dev/ttyS<n-1>) and port 0 has none.
KELVARA_API void MapComPort(unsigned nPort, const std::string& strDevice);
/// Leaves the port without a device.
KELVARA_API void UnmapComPort(unsigned nPort);
/// Gives the port its default device again.
KELVARA_API void RestoreComPortDefault(unsigned nPort);
/// The port's device; none when it has no device.
KELVARA_API std::optional<std::string> ComPortDevice(unsigned nPort);

/// The device of a port number when nothing is mapped.
KELVARA_API std::optional<std::string> DefaultComPortDevice(unsigned nPort);

}  // namespace kelvara::platform
/** @} */
